#!/usr/bin/env bash
# Makes the GIF samples in samples/: a still picture from ImageMagick's built-in "rose:",
# and an 8-frame looping animation drawn with ImageMagick and optimised by gifsicle (frames
# cut to what changed, with transparency).
set -euo pipefail
cd "$(dirname "$0")/../samples"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
convert rose: -resize 200% -colors 128 gif_rose.gif
frames=()
for i in 0 1 2 3 4 5 6 7; do
  a=$((i * 45))
  convert -size 96x96 xc:white -fill '#2060c0' -draw "ellipse 48,48 40,40 $a,$((a + 90))" \
    -fill '#e04020' -draw "circle $((36 + i * 3)),48 $((42 + i * 3)),48" -colors 16 "$tmp/s$i.gif"
  frames+=("$tmp/s$i.gif")
done
gifsicle -O2 --loopcount=0 --delay 12 "${frames[@]}" -o gif_spinner.gif
