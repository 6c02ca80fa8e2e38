#!/usr/bin/env bash
# Makes the 12-megapixel pictures of the whole-process benchmark in the folder given (default
# /tmp/korvela-bench): a plasma with noise, written in each workload's format with Debian's
# tools. Files already there are kept.
set -euo pipefail
out=${1:-/tmp/korvela-bench}
mkdir -p "$out"
cd "$out"
IM=/usr/bin/convert
make() { [ -s "$1" ] || { echo "making $1" >&2; eval "$2"; }; }

make base.ppm  "$IM -size 4000x3000 -seed 7 plasma:fractal -attenuate 0.4 +noise Gaussian -depth 8 base.ppm"
make grey.pgm  "$IM base.ppm -colorspace Gray -depth 8 grey.pgm"
make jpeg420.jpg "cjpeg -quality 90 -sample 2x2 base.ppm > jpeg420.jpg"
make jpeg444.jpg "cjpeg -quality 90 -sample 1x1 base.ppm > jpeg444.jpg"
make jpeggrey.jpg "cjpeg -quality 90 grey.pgm > jpeggrey.jpg"
make jpegprog.jpg "cjpeg -quality 90 -progressive base.ppm > jpegprog.jpg"
make rgb.png   "$IM base.ppm -define png:compression-filter=5 -define png:compression-level=6 rgb.png"
make rgba.png  "$IM base.ppm \\( grey.pgm -negate \\) -alpha off -compose CopyOpacity -composite -define png:compression-filter=5 PNG32:rgba.png"
make palette.png "$IM base.ppm -dither None -colors 256 PNG8:palette.png"
make still.gif "$IM base.ppm -dither None -colors 256 still.gif"
make lzw.tif   "$IM base.ppm -depth 8 -compress none tmp_none.tif && tiffcp -c lzw:2 -r 64 tmp_none.tif lzw.tif && rm tmp_none.tif"
make g4.tif    "$IM grey.pgm -threshold 50% -type bilevel -depth 1 -compress none tmp_bw.tif && tiffcp -c g4 tmp_bw.tif g4.tif && rm tmp_bw.tif"
make p6.ppm    "cp base.ppm p6.ppm"
ls -l "$out"
