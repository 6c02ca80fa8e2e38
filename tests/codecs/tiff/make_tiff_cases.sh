#!/bin/sh
# Writes TIFF variants for the decoder's conformance tests into directory $1:
# ok-*.tif must load like libtiff's decoding, orient-*.tif carry Orientation 1 to 8.
# Every picture comes from a few sources made with ImageMagick and netpbm.
set -e
out="$1"
mkdir -p "$out/src"
cd "$out/src"

convert -seed 3 -size 67x45 plasma:fractal -depth 8 rgb.tif
convert rgb.tif -colorspace gray -depth 8 grey8.tif
convert rgb.tif -colorspace gray -depth 4 grey4.tif
convert rgb.tif -colorspace gray -depth 8 pgm:- | pnmtotiff -miniswhite > white8.tif
convert rgb.tif -colorspace gray -depth 8 -depth 4 pgm:- | pnmtotiff -miniswhite > white4.tif
convert rgb.tif -threshold 50% pbm:- | pnmtotiff -minisblack > bw.tif
convert rgb.tif -threshold 50% pbm:- | pnmtotiff -miniswhite > bww.tif
convert rgb.tif -colors 200 -type palette pal8.tif
convert rgb.tif -colors 12 -type palette -depth 4 pal4.tif
convert rgb.tif -colorspace cmyk cmyk.tif
convert -seed 5 -size 300x41 plasma:fractal -threshold 55% pbm:- | pnmtotiff -minisblack > wide_bw.tif
# Runs long enough for the extended make-up codes, in both colours, and rows that start black.
convert -size 2700x24 xc:white -fill black -draw "rectangle 0,3 1900,8" -draw "rectangle 1950,6 2699,12" \
  -draw "rectangle 0,15 2600,17" -draw "point 2699,20" -draw "rectangle 1,22 1793,22" \
  -threshold 50% pbm:- | pnmtotiff > long_runs.tif

cd "$out"
for s in rgb grey8 grey4 white8 white4 bw bww pal8 pal4 cmyk; do
  for order in -L -B; do
    o=$( [ "$order" = "-L" ] && echo le || echo be )
    compressions="none lzw packbits"
    case $s in grey4|white4|bw|bww|pal4) ;; *) compressions="$compressions lzw:2" ;; esac
    for c in $compressions; do
      n=$(echo "$c" | tr ':' '_')
      tiffcp $order -c $c src/$s.tif ok-$s-$o-$n-one.tif
      tiffcp $order -c $c -r 7 src/$s.tif ok-$s-$o-$n-strips.tif
      tiffcp $order -c $c -t -w 16 -l 16 src/$s.tif ok-$s-$o-$n-tile16.tif
      tiffcp $order -c $c -t -w 64 -l 32 src/$s.tif ok-$s-$o-$n-tile64x32.tif
    done
  done
done
for s in rgb cmyk; do
  for c in none lzw:2 packbits; do
    n=$(echo "$c" | tr ':' '_')
    tiffcp -p separate -c $c -r 5 src/$s.tif ok-$s-planar-$n-strips.tif
    tiffcp -p separate -c $c -t -w 32 -l 16 src/$s.tif ok-$s-planar-$n-tiles.tif
  done
done
# A tile grid that fits the image exactly.
convert -seed 4 -size 64x48 plasma:fractal -depth 8 src/exact.tif
tiffcp -c lzw:2 -t -w 32 -l 16 src/exact.tif ok-exact-tiles.tif
# Bit order within bytes.
tiffcp -f lsb2msb -c none src/bw.tif ok-bw-lsb-none.tif
# Group 4: strips, many strips, tiles, both bit orders, both byte orders.
for s in bw bww wide_bw long_runs; do
  tiffcp -c g4 src/$s.tif ok-$s-g4-one.tif
  tiffcp -B -c g4 -r 8 src/$s.tif ok-$s-g4-strips.tif
  tiffcp -c g4 -f lsb2msb src/$s.tif ok-$s-g4-lsb.tif
  tiffcp -c g4 -t -w 32 -l 16 src/$s.tif ok-$s-g4-tiles.tif
done
# Several pages in one file.
# Each page keeps its own compression, predictor and layout.
tiffcp ok-rgb-le-lzw_2-strips.tif ok-bw-g4-one.tif ok-pal8-le-packbits-tile16.tif \
  ok-grey4-le-lzw-one.tif ok-cmyk-le-none-tile64x32.tif ok-multipage.tif
tiffcp -c g4 src/bw.tif src/bww.tif src/wide_bw.tif ok-multipage-g4.tif
# Orientations, for strips and for tiles.
for o in 1 2 3 4 5 6 7 8; do
  tiffcp -c lzw:2 -r 6 src/rgb.tif orient-$o-rgb-strips.tif
  tiffset -s 274 $o orient-$o-rgb-strips.tif
  tiffcp -c packbits -t -w 16 -l 32 src/pal8.tif orient-$o-pal8-tiles.tif
  tiffset -s 274 $o orient-$o-pal8-tiles.tif
  tiffcp -c g4 -r 9 src/wide_bw.tif orient-$o-bw-g4.tif
  tiffset -s 274 $o orient-$o-bw-g4.tif
done
# Refused variants.
tiffcp -c lzw -f lsb2msb src/grey8.tif bad14-lzw-lsb.tif
tiffcp -c zip src/grey8.tif bad3-deflate.tif
convert src/rgb.tif -depth 16 bad14-rgb16.tif
convert src/grey8.tif -depth 16 bad3-grey16.tif
tiffcp -c g3 src/bw.tif bad3-g3.tif
tiffcp -c g3:2d src/bw.tif bad3-g3-2d.tif
