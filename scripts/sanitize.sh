#!/usr/bin/env bash
# Builds the media engine, its tests and its fuzz programs with clang,
# AddressSanitizer, UndefinedBehaviorSanitizer and the standard library's
# assertions (no Wine DLL, no Windows pass), then runs the engine's tests.
#   scripts/sanitize.sh [BUILD_DIR] [FIXTURES_DIR]
# (defaults: build-asan, and the fixtures of build/ when they are there)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath -m "${1:-$here/build-asan}")
fixtures=$(realpath -m "${2:-$here/build/fixtures}")
"$here/scripts/install-packages.sh"
CC=clang CXX=clang++ cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DKESTREL_FUZZ=ON -DKESTREL_FIXTURES_DIR="$fixtures"
nice cmake --build "$build" -j "$(nproc)"
source "$here/scripts/sanitizer-env.sh"
ctest --test-dir "$build" --output-on-failure -R '^qtmedia_tests$'
