#!/usr/bin/env bash
# Builds one preset and runs its tests.
#   scripts/test.sh [PRESET] [CTEST ARGS...]      PRESET: default (the default) or asan
# Examples: scripts/test.sh asan; scripts/test.sh default -L unit
set -euo pipefail
cd "$(dirname "$0")/.."

preset=${1:-default}
shift || true

# The browser tests drive Debian's Chromium with playwright-core from npm. npm ci (which
# needs the network) runs only when the modules are missing or the lock file changed.
if [ -f tests/browser/package.json ]; then
  stamp=tests/browser/node_modules/.sentrel-lock.sha256
  lock=$(sha256sum tests/browser/package-lock.json | cut -d' ' -f1)
  if [ ! -d tests/browser/node_modules ] || [ "$(cat "$stamp" 2>/dev/null)" != "$lock" ]; then
    (cd tests/browser && npm ci --no-audit --no-fund --loglevel=error)
    echo "$lock" >"$stamp"
  fi
fi

cmake --preset "$preset"
cmake --build --preset "$preset"
ctest --preset "$preset" "$@"
