#!/usr/bin/env bash
# Builds one preset and runs its tests.
#   scripts/test.sh [PRESET] [CTEST ARGS...]      PRESET: default (the default) or asan
# Examples: scripts/test.sh asan; scripts/test.sh default -L unit
set -euo pipefail
cd "$(dirname "$0")/.."

preset=${1:-default}
shift || true

# The browser tests drive Debian's Chromium with playwright-core from npm.
if [ -f tests/browser/package.json ]; then
  (cd tests/browser && npm ci --no-audit --no-fund --loglevel=error)
fi

cmake --preset "$preset"
cmake --build --preset "$preset"
ctest --preset "$preset" "$@"
