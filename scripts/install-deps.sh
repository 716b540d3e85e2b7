#!/usr/bin/env bash
# Installs what building, running and testing the suite needs on Debian 12.
# Run as root (or through sudo).
set -euo pipefail

packages=(
  # build
  cmake ninja-build g++ clang libclang-rt-14-dev pkg-config git
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  # platform back-ends
  libespeak-ng-dev espeak-ng-data espeak-ng libpcaudio-dev
  libxmlrpc-c++8-dev libcurl4-openssl-dev
  libcpp-httplib-dev libssl-dev zlib1g-dev libbrotli-dev
  libfltk1.3-dev
  # the real services the tests and the demonstration use
  supervisor xvfb sox imagemagick chromium
  rsyslog rsyslog-openssl openssl
  # benchmark baselines
  libinih-dev
)

export DEBIAN_FRONTEND=noninteractive
if [ "$(id -u)" -ne 0 ]; then
  exec sudo -E "$0" "$@"
fi
apt-get update -q
# Node.js drives the browser tests; the machine's own one is used when present.
command -v npm >/dev/null 2>&1 || packages+=(nodejs npm)
apt-get install -y -q --no-install-recommends "${packages[@]}"
