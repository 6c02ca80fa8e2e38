#!/usr/bin/env bash
# Makes the TIFF samples in samples/ with ImageMagick, netpbm and libtiff's tools: a
# three-page file (RGB in LZW with the predictor, a palette picture in PackBits tiles, a
# Group 4 page) and a big-endian Group 4 page.
set -euo pipefail
cd "$(dirname "$0")/../samples"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
convert -seed 11 -size 128x96 plasma:fractal -blur 0x2 -depth 8 "$tmp/rgb.tif"
tiffcp -c lzw:2 -r 16 "$tmp/rgb.tif" "$tmp/p1.tif"
convert "$tmp/rgb.tif" -colors 64 -type palette "$tmp/pal.tif"
tiffcp -c packbits -t -w 32 -l 32 "$tmp/pal.tif" "$tmp/p2.tif"
convert -size 320x200 xc:white -fill black -draw "circle 160,100 160,20" -fill white \
  -draw "rectangle 60,90 260,110" -threshold 50% pbm:- | pnmtotiff > "$tmp/bw.tif"
tiffcp -c g4 "$tmp/bw.tif" "$tmp/p3.tif"
rm -f tiff-pages.tif tiff-g4.tif
tiffcp "$tmp/p1.tif" "$tmp/p2.tif" "$tmp/p3.tif" tiff-pages.tif
tiffcp -c g4 -B "$tmp/bw.tif" tiff-g4.tif
