#!/usr/bin/env bash
# Installs what is missing, configures, builds everything (engine, filter,
# tests, tools, fixtures) and boots the private Wine prefixes (the shared
# one, and the one for programs that make windows, scripts/wine-gui.sh).
#   scripts/build.sh [BUILD_DIR]      (default: build)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath -m "${1:-$here/build}")
"$here/scripts/install-packages.sh"
cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release
cmake --build "$build" -j "$(nproc)"
"$here/scripts/wine-prefix.sh" up "$build/wineprefix" "$build/bin"
"$here/scripts/wine-prefix.sh" up "$build/wineprefix-gui"
"$here/scripts/wine-prefix.sh" down "$build/wineprefix-gui"
