#!/usr/bin/env bash
# Installs what building, running and testing the suite needs on Debian 12.
# Does nothing, and says so in one line, when everything is there; otherwise installs what is
# missing as root (through sudo when run by another user). --check only lists what is missing.
set -euo pipefail

packages=(
  # build
  cmake ninja-build g++ clang libclang-rt-14-dev pkg-config git
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  # platform back-ends
  libespeak-ng-dev espeak-ng-data espeak-ng libpcaudio-dev
  libxmlrpc-c++8-dev libcurl4-openssl-dev
  libcpp-httplib-dev libssl-dev zlib1g-dev libbrotli-dev openssl
  libfltk1.3-dev
  # the real services the tests and the demonstration use
  supervisor xvfb sox imagemagick chromium
  rsyslog rsyslog-openssl openssl
  # benchmark baselines
  libinih-dev
)

# Node.js drives the browser tests; the machine's own one is used when present.
command -v npm >/dev/null 2>&1 || packages+=(nodejs npm)

# The packages of the list that dpkg does not have installed, one a line.
missing_packages() {
  local installed
  installed=$(dpkg-query -W -f='${Package} ${db:Status-Status}\n' "${packages[@]}" 2>/dev/null |
    awk '$2 == "installed" { print $1 }' || true)
  local p
  for p in "${packages[@]}"; do
    grep -qxF "$p" <<<"$installed" || echo "$p"
  done
}

# --check: only say what is missing (exit 1 when something is); installs nothing.
check_only=false
[ "${1:-}" = "--check" ] && check_only=true

mapfile -t missing < <(missing_packages)
if [ "${#missing[@]}" -eq 0 ]; then
  echo "install-deps: all ${#packages[@]} packages are installed; nothing to do"
  exit 0
fi
if $check_only; then
  echo "install-deps: missing ${missing[*]}"
  exit 1
fi

export DEBIAN_FRONTEND=noninteractive
if [ "$(id -u)" -ne 0 ]; then
  exec sudo -E "$0" "$@"
fi
echo "install-deps: installing ${missing[*]}"
apt-get update -q
apt-get install -y -q --no-install-recommends "${missing[@]}"
