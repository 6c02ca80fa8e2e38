#!/usr/bin/env bash
# Sets up, then runs every test: the plain build, then the same suite under AddressSanitizer
# and UndefinedBehaviorSanitizer, then the cross-built Windows program under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/setup.sh

jobs=$(nproc)
echo "== plain build"
ctest --test-dir build --output-on-failure -j "$jobs"

echo "== sanitizer build"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKORVELA_SANITIZE=ON >/dev/null
cmake --build build-asan
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-asan --output-on-failure -j "$jobs"

echo "== Windows build, under Wine"
tools/build_windows.sh build-win >/dev/null
tools/wine_test.sh build-win build
tools/wine_window_test.sh build-win build

echo "== size"
python3 tools/count_lines.py
