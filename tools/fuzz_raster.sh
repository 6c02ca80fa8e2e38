#!/usr/bin/env bash
# Runs the fuzz targets of the simple raster decoders, each for SECONDS (default 180), seeded
# with the pictures of tools/make_raster_cases.py (and the BMP suite for BMP). Needs the fuzz
# build: CXX=clang++ CC=clang cmake -S . -B build-fuzz -G Ninja -DKORVELA_FUZZ=ON
# Usage: tools/fuzz_raster.sh [SECONDS] [FORMAT...]   (FORMAT: bmp pnm tga pcx sun xpm)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-180}
shift || true
formats=("$@")
[ ${#formats[@]} -gt 0 ] || formats=(bmp pnm tga pcx sun xpm)
work=${FUZZ_WORK:-/tmp/korvela-fuzz-raster}
mkdir -p "$work"
for f in "${formats[@]}"; do
  ninja -C build-fuzz "fuzz_$f" >/dev/null
  seeds="$work/seeds_$f"
  if [ ! -d "$seeds" ]; then
    /usr/bin/python3 tools/make_raster_cases.py "$work/cases_$f" "${f}_" >/dev/null
    mkdir -p "$seeds"
    find "$work/cases_$f" -name "${f}_*" ! -name '*.ref.ppm' -exec cp {} "$seeds" \;
    if [ "$f" = bmp ]; then cp tests/data/bmpsuite/*/*.bmp "$seeds" 2>/dev/null || true; fi
  fi
  mkdir -p "$work/corpus_$f"
  "build-fuzz/fuzz/fuzz_$f" -max_total_time="$seconds" -max_len=131072 -rss_limit_mb=2048 \
    -print_final_stats=1 "$work/corpus_$f" "$seeds" 2>&1 | tail -12
done
