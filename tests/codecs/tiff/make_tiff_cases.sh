#!/bin/sh
# Writes TIFF variants for the decoder's conformance tests into directory $1:
# ok-*.tif must load like libtiff's decoding, orient-*.tif carry Orientation 1 to 8.
# Every picture comes from a few sources made with ImageMagick and netpbm.
set -e
out="$1"
mkdir -p "$out/src"
cd "$out/src"

convert -seed 3 -size 67x45 plasma:fractal -depth 8 rgb.tif
for d in 8 4 2; do convert rgb.tif -colorspace gray -depth $d grey$d.tif; done
convert -seed 3 -size 67x45 plasma:fractal -depth 16 rgb16.tif
convert rgb16.tif -interlace plane rgb16_planar.tif
convert rgb16.tif -colorspace gray -depth 16 grey16.tif
convert rgb16.tif -colorspace gray -depth 16 pgm:- | pnmtotiff -miniswhite > white16.tif
convert rgb.tif -colorspace gray -depth 8 pgm:- | pnmtotiff -miniswhite > white8.tif
convert rgb.tif -colorspace gray -depth 8 -depth 4 pgm:- | pnmtotiff -miniswhite > white4.tif
convert rgb.tif -threshold 50% pbm:- | pnmtotiff -minisblack > bw.tif
convert rgb.tif -threshold 50% pbm:- | pnmtotiff -miniswhite > bww.tif
convert rgb.tif -colors 200 -type palette pal8.tif
convert rgb.tif -colors 12 -type palette -depth 4 pal4.tif
convert rgb.tif -colors 4 -type palette -depth 2 pal2.tif
convert rgb.tif -colorspace cmyk cmyk.tif
convert -seed 5 -size 300x41 plasma:fractal -threshold 55% pbm:- | pnmtotiff -minisblack > wide_bw.tif
# Runs long enough for the extended make-up codes, in both colours, and rows that start black.
convert -size 2700x24 xc:white -fill black -draw "rectangle 0,3 1900,8" -draw "rectangle 1950,6 2699,12" \
  -draw "rectangle 0,15 2600,17" -draw "point 2699,20" -draw "rectangle 1,22 1793,22" \
  -threshold 50% pbm:- | pnmtotiff > long_runs.tif

cd "$out"
for s in rgb grey8 grey4 grey2 white8 white4 bw bww pal8 pal4 pal2 cmyk rgb16 grey16 white16; do
  for order in -L -B; do
    o=$( [ "$order" = "-L" ] && echo le || echo be )
    compressions="none lzw packbits zip"
    case $s in grey4|grey2|white4|bw|bww|pal4|pal2) ;; *) compressions="$compressions lzw:2 zip:2" ;; esac
    for c in $compressions; do
      n=$(echo "$c" | tr ':' '_')
      tiffcp $order -c $c src/$s.tif ok-$s-$o-$n-one.tif
      tiffcp $order -c $c -r 7 src/$s.tif ok-$s-$o-$n-strips.tif
      tiffcp $order -c $c -t -w 16 -l 16 src/$s.tif ok-$s-$o-$n-tile16.tif
      tiffcp $order -c $c -t -w 64 -l 32 src/$s.tif ok-$s-$o-$n-tile64x32.tif
    done
  done
done
for s in rgb cmyk rgb16_planar; do
  for c in none lzw:2 packbits zip:2; do
    n=$(echo "$c" | tr ':' '_')
    tiffcp -p separate -c $c -r 5 src/$s.tif ok-$s-planar-$n-strips.tif
    tiffcp -p separate -c $c -t -w 32 -l 16 src/$s.tif ok-$s-planar-$n-tiles.tif
  done
done
# A tile grid that fits the image exactly.
convert -seed 4 -size 64x48 plasma:fractal -depth 8 src/exact.tif
tiffcp -c lzw:2 -t -w 32 -l 16 src/exact.tif ok-exact-tiles.tif
# Bit order within bytes, for every depth and compression.
for s in bw grey2 grey4 grey8 rgb16; do
  for c in none lzw zip packbits; do tiffcp -f lsb2msb -c $c src/$s.tif ok-$s-lsb-$c.tif; done
done
# CCITT Group 4, Group 3 one- and two-dimensional with and without aligned ends of line,
# and modified Huffman: strips, many strips, tiles, both bit orders, both byte orders.
for s in bw bww wide_bw long_runs; do
  for c in g4 g3 g3:2d g3:fill g3:2d:fill; do
    n=$(echo "$c" | tr ':' '_')
    tiffcp -c $c src/$s.tif ok-$s-$n-one.tif
    tiffcp -B -c $c -r 8 src/$s.tif ok-$s-$n-strips.tif
    tiffcp -c $c -f lsb2msb src/$s.tif ok-$s-$n-lsb.tif
    tiffcp -c $c -t -w 32 -l 16 src/$s.tif ok-$s-$n-tiles.tif
  done
  /usr/bin/python3 -c "from PIL import Image; Image.open('src/$s.tif').save('ok-$s-mh.tif', compression='tiff_ccitt')"
done
# BigTIFF, in either byte order.
tiffcp -8 -c lzw:2 -r 7 src/rgb.tif ok-big-rgb-lzw.tif
tiffcp -8 -B -c packbits -t -w 16 -l 16 src/pal8.tif ok-big-pal8-tiles.tif
tiffcp -8 -B -c g4 src/bw.tif ok-big-bw-g4.tif
tiffcp -8 -B src/bw.tif src/grey16.tif ok-big-pages.tif
tiffcp -8 -c zip:2 src/rgb16_planar.tif ok-big-rgb16-planar.tif
# YCbCr (as Pillow writes it, and subsampled) and CIELab.
/usr/bin/python3 - <<'EOF'
from PIL import Image, ImageCms
rgb = Image.open('src/rgb.tif').convert('RGB')
rgb.convert('YCbCr').save('ycc-pillow.tif')
rgb.convert('YCbCr').save('ycc-pillow-lzw.tif', compression='tiff_lzw')
to_lab = ImageCms.buildTransformFromOpenProfiles(ImageCms.createProfile('sRGB'), ImageCms.createProfile('LAB'), 'RGB', 'LAB')
lab = ImageCms.applyTransform(rgb, to_lab)
lab.save('lab.tif')
lab.save('lab-zip.tif', compression='tiff_adobe_deflate')
# Subsampled YCbCr with random samples: strips of units of h x v luma samples, Cb and Cr.
import random, struct
def ycbcr(path, w, h, sh, sv, rows_per_strip):
    random.seed(sh * 10 + sv)
    strips = []
    for y0 in range(0, h, rows_per_strip):
        rows = min(rows_per_strip, h - y0)
        units = (w + sh - 1) // sh * ((rows + sv - 1) // sv)
        strips.append(bytes(random.randrange(256) for _ in range(units * (sh * sv + 2))))
    data = b''.join(strips)
    offsets, at = [], 8
    for s in strips:
        offsets.append(at)
        at += len(s)
    extra = at + (at & 1)
    tags = [(256, 4, 1, w), (257, 4, 1, h), (258, 3, 3, None), (259, 3, 1, 1), (262, 3, 1, 6),
            (273, 4, len(strips), None), (277, 3, 1, 3), (278, 4, 1, rows_per_strip),
            (279, 4, len(strips), None), (284, 3, 1, 1), (530, 3, 2, sh | sv << 16)]
    ifd = extra + 6 + len(strips) * 8
    out = b'II*\0' + struct.pack('<I', ifd) + data + b'\0' * (extra - at)
    out += struct.pack('<HHH', 8, 8, 8) + struct.pack('<%dI' % len(strips), *offsets)
    out += struct.pack('<%dI' % len(strips), *(len(s) for s in strips))
    entries = b''
    for tag, kind, count, value in tags:
        if tag == 258: value = extra
        if tag == 273: value = offsets[0] if count == 1 else extra + 6
        if tag == 279: value = len(strips[0]) if count == 1 else extra + 6 + 4 * len(strips)
        entries += struct.pack('<HHII', tag, kind, count, value)
    out += struct.pack('<H', len(tags)) + entries + b'\0\0\0\0'
    open(path, 'wb').write(out)
# libtiff reads 4 x 4 strips short unless a row of units fills whole bytes per image row.
for sh, sv, w in [(2, 2, 67), (2, 1, 67), (4, 2, 67), (4, 4, 61), (1, 2, 67)]:
    ycbcr('ycc-%dx%d.tif' % (sh, sv), w, 45, sh, sv, 8 if sv <= 2 else 16)
EOF
# Several pages in one file.
# Each page keeps its own compression, predictor and layout.
tiffcp ok-rgb-le-lzw_2-strips.tif ok-bw-g4-one.tif ok-pal8-le-packbits-tile16.tif \
  ok-grey4-le-lzw-one.tif ok-cmyk-le-none-tile64x32.tif ok-multipage.tif
tiffcp -c g4 src/bw.tif src/bww.tif src/wide_bw.tif ok-multipage-g4.tif
# Orientations, for strips and for tiles.
for o in 1 2 3 4 5 6 7 8; do
  tiffcp -c lzw:2 -r 6 src/rgb.tif orient-$o-rgb-strips.tif
  tiffcp -c packbits -t -w 16 -l 32 src/pal8.tif orient-$o-pal8-tiles.tif
  tiffcp -c g4 -r 9 src/wide_bw.tif orient-$o-bw-g4.tif
  for f in orient-$o-*.tif; do tiffset -s 274 $o $f; done
done
# JPEG: YCbCr (as tiffcp writes colour by default), RGB, grey and CMYK, strips and tiles.
tiffcp -c jpeg -r 48 src/rgb.tif jpeg-ycbcr-one.tif
tiffcp -c jpeg -r 16 src/rgb.tif jpeg-ycbcr-strips.tif
tiffcp -c jpeg -t -w 32 -l 16 src/rgb.tif jpeg-ycbcr-tiles.tif
tiffcp -c jpeg -r 16 -f lsb2msb src/rgb.tif jpeg-ycbcr-lsb.tif
tiffcp -c jpeg:r -r 16 src/rgb.tif jpeg-rgb-strips.tif
tiffcp -c jpeg -r 16 src/grey8.tif jpeg-grey-strips.tif
tiffcp -c jpeg -r 16 src/cmyk.tif jpeg-cmyk-strips.tif
# Refused variants.
tiffcp -c lzma src/grey8.tif bad3-lzma.tif
/usr/bin/python3 -c "from PIL import Image; Image.open('src/grey8.tif').convert('F').save('bad3-float.tif')"
convert src/grey8.tif -depth 12 bad14-grey12.tif
