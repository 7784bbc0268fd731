#!/usr/bin/env bash
# Runs every test of a built tree (native and under Wine), then stops the
# tree's own wineserver.
#   scripts/test.sh [BUILD_DIR] [ctest args...]
set -uo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath -m "${1:-$here/build}")
shift || true
ctest --test-dir "$build" --output-on-failure "$@"
status=$?
"$here/scripts/wine-prefix.sh" down "$build/wineprefix"
exit $status
