#!/usr/bin/env bash
# Makes the JPEG sample pictures in samples/ from an ImageMagick plasma, with cjpeg: a
# baseline file with optimised tables, a progressive one, and a greyscale one with restart
# markers.
set -euo pipefail
cd "$(dirname "$0")/../samples"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
convert -seed 21 -size 160x120 plasma:fractal -blur 0x1 "$tmp/plasma.ppm"
cjpeg -quality 85 -optimize "$tmp/plasma.ppm" > plasma_baseline.jpg
cjpeg -quality 85 -progressive "$tmp/plasma.ppm" > plasma_progressive.jpg
cjpeg -quality 80 -grayscale -restart 1 "$tmp/plasma.ppm" > plasma_grey_restart.jpg
