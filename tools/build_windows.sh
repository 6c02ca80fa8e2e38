#!/usr/bin/env bash
# Cross-builds the 32-bit Windows program: BUILD_DIR/korvela.exe (default build-win) with
# erreur.png and inconnu.png beside it, and the unit tests as BUILD_DIR/tests/korvela_tests.exe.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-win}
tools/setup_windows.sh
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64-i686.cmake" >/dev/null
cmake --build "$build" --target korvela korvela_tests
echo "$build/korvela.exe"
