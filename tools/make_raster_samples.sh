#!/usr/bin/env bash
# Makes the sample pictures of the simple raster formats in samples/ from ImageMagick's
# built-in "rose:" picture, with ImageMagick and netpbm.
set -euo pipefail
cd "$(dirname "$0")/../samples"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
convert rose: "$tmp/rose.ppm"
convert rose: BMP3:rose.bmp
cp "$tmp/rose.ppm" rose.ppm
ppmtotga "$tmp/rose.ppm" > rose.tga 2>/dev/null
ppmtopcx "$tmp/rose.ppm" > rose.pcx 2>/dev/null
pnmtorast -standard "$tmp/rose.ppm" > rose.ras 2>/dev/null
convert rose: -colors 64 rose.xpm
