#!/usr/bin/env bash
# Builds the media engine, its tests and its fuzz programs with clang,
# AddressSanitizer, UndefinedBehaviorSanitizer and the standard library's
# assertions (no Wine DLL, no Windows pass), then runs the engine's tests;
# then the engine and its tests again with ThreadSanitizer, and runs them.
#   scripts/sanitize.sh [BUILD_DIR] [FIXTURES_DIR] [THREAD_BUILD_DIR]
# (defaults: build-asan, the fixtures of build/ when they are there, and
# build-tsan beside BUILD_DIR)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath -m "${1:-$here/build-asan}")
fixtures=$(realpath -m "${2:-$here/build/fixtures}")
thread_build=$(realpath -m "${3:-$(dirname "$build")/build-tsan}")
"$here/scripts/install-packages.sh"
CC=clang CXX=clang++ cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DKESTREL_FUZZ=ON -DKESTREL_FIXTURES_DIR="$fixtures"
nice cmake --build "$build" -j "$(nproc)"
source "$here/scripts/sanitizer-env.sh"
ctest --test-dir "$build" --output-on-failure -R '^qtmedia_tests$'

CC=clang CXX=clang++ cmake -S "$here" -B "$thread_build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DKESTREL_SANITIZE_THREAD=ON -DKESTREL_FIXTURES_DIR="$fixtures"
nice cmake --build "$thread_build" -j "$(nproc)" --target qtmedia_tests
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$here/scripts/tsan-suppressions.txt" \
  ctest --test-dir "$thread_build" --output-on-failure -R '^qtmedia_tests$'
