#!/usr/bin/env bash
# Makes the PNG samples: a photograph-like RGB picture and a palette picture, both
# non-interlaced, from ImageMagick's built-in images.
set -euo pipefail
cd "$(dirname "$0")/.."
convert rose: -resize 200% -strip -interlace none PNG24:samples/rose.png
convert logo: -resize 40% -strip -interlace none -colors 32 PNG8:samples/logo-palette.png
