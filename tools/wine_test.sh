#!/usr/bin/env bash
# Runs the Windows build under Wine and holds it against the Linux build:
# the unit tests, then --info and --export on the samples (same lines, same pixels).
# Usage: tools/wine_test.sh [WINDOWS_BUILD_DIR [LINUX_BUILD_DIR]]
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/wine_env.sh "$@"
work=$(mktemp -d)
trap 'wineserver -k 2>/dev/null; rm -rf "$work"' EXIT

echo "== unit tests under Wine"
# FileOpen.BackslashesBecomeSlashes builds a Unix absolute path from a temporary file's name.
(cd "$win" && wine tests/korvela_tests.exe --gtest_brief=1 --gtest_filter=-FileOpen.BackslashesBecomeSlashes)

# Windows names are lower-cased and its lines end in CR LF; nothing else may differ.
lines() { tr -d '\r' | tr '[:upper:]' '[:lower:]'; }

echo "== --info: Windows against Linux"
samples=()
for f in samples/*; do [ "${f##*.}" = md ] || samples+=("$PWD/$f"); done
samples+=("$PWD/samples/missing.png")
# A picture served by the ECW stand-in library: loaded by name on Linux, as NCSEcw.dll by
# ordinal on Windows (40 x 30, 3 bands; the layout is in tests/codecs/ecw/ncs_ecw_standin.h).
printf '\x65\x02\x01\x00\x28\0\0\0\x1e\0\0\0\x03\0\0\0\0\0\x07\0' >"$work/standin.ecw"
samples+=("$work/standin.ecw")
export LD_LIBRARY_PATH=$linux/tests WINEPATH=$win/tests
"$linux/korvela" --info "${samples[@]}" | lines >"$work/linux.txt" || true
wine "$win/korvela.exe" --info "${samples[@]}" | lines >"$work/windows.txt" || true
diff -u "$work/linux.txt" "$work/windows.txt"
grep -q "standin.ecw - 40 x 30 pixels - 3 x 8 bits - ecw" "$work/windows.txt" || { echo "NCSEcw.dll not used"; exit 1; }
echo "$(wc -l <"$work/windows.txt") lines equal"

echo "== --export: Windows against Linux"
mkdir -p "$work/linux" "$work/windows"
for f in "${samples[@]}"; do
  [ -f "$f" ] || continue
  name=$(basename "$f")
  "$linux/korvela" --export "$work/linux/$name.ppm" "$f" >/dev/null
  wine "$win/korvela.exe" --export "$work/windows/$name.ppm" "$f" >/dev/null
done
diff -r "$work/linux" "$work/windows"
echo "$(ls "$work/windows" | wc -l) pictures equal"

echo "== --screenshot: Windows against Linux"
"$linux/korvela" --screenshot "$work/linux.png" --size 320x200 "$PWD/samples/rose.png"
wine "$win/korvela.exe" --screenshot "$work/windows.png" --size 320x200 "$PWD/samples/rose.png"
[ "$(compare -metric AE "$work/linux.png" "$work/windows.png" null: 2>&1)" = 0 ]
echo "equal"
