#!/usr/bin/env bash
# Draws the two placeholder pictures the viewer shows in place of a file it cannot show:
# assets/erreur.png (a red cross) and assets/inconnu.png (a question mark). Both are small
# non-interlaced 8-bit palette PNG files without ancillary chunks, so the viewer's own PNG
# decoder reads them. Needs ImageMagick (convert).
set -euo pipefail
cd "$(dirname "$0")/.."

draw() {  # output, drawing options...
  local out=$1
  shift
  convert -size 200x150 xc:'#f2f2ee' \
    -fill none -stroke '#b8b8b0' -strokewidth 2 -draw 'rectangle 3,3 196,146' \
    "$@" \
    -strip -define png:exclude-chunks=all -interlace none -colors 64 PNG8:"$out"
}

draw assets/erreur.png \
  -fill none -stroke '#d42020' -strokewidth 14 -draw 'line 72,22 128,78' -draw 'line 128,22 72,78' \
  -stroke none -fill '#404040' -font DejaVu-Sans-Bold -pointsize 22 -gravity south \
  -annotate +0+18 'erreur'

draw assets/inconnu.png \
  -stroke none -fill '#2a5db0' -font DejaVu-Sans-Bold -pointsize 78 -gravity north \
  -annotate +0+6 '?' \
  -fill '#404040' -pointsize 22 -gravity south -annotate +0+18 'inconnu'
