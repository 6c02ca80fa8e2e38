#!/usr/bin/env python3
"""Makes the test pictures of the simple raster formats (BMP, PNM, Targa, PCX, Sun raster, XPM)
with Debian's tools (Pillow, netpbm, ImageMagick) and a reference rendering of each.

Usage: make_raster_cases.py OUTDIR [PREFIX]   (PREFIX, e.g. "bmp_", limits it to one format)

OUTDIR/manifest.txt gets one line per case:
  load FILE REFERENCE.ppm TOLERANCE [transparent]   the file must load and match the reference
                                                     within TOLERANCE per channel; with
                                                     "transparent", pixels of the transparent
                                                     index are not compared
  refuse FILE CODE                                   the file must fail with that error code
References are binary PPM files (maxval 255) made by a decoder other than ours (netpbm,
Pillow, ImageMagick) or, for files built here byte by byte, from the source picture itself.
"""
import io
import os
import struct
import subprocess
import sys

from PIL import Image

OUT = sys.argv[1]
os.makedirs(OUT, exist_ok=True)
manifest = []


def path(name):
    return os.path.join(OUT, name)


def run(cmd, out=None, stdin=None):
    """Runs a shell command; its standard output goes to the file `out` when given."""
    data = subprocess.run(cmd, shell=True, check=True, capture_output=True, cwd=OUT,
                          input=stdin).stdout
    if out is not None:
        with open(path(out), 'wb') as f:
            f.write(data)
    return data


def save_ppm(name, image):
    image.convert('RGB').save(path(name), format='PPM')


def load(name, reference_image, tolerance=0, flag=''):
    ref = name + '.ref.ppm'
    save_ppm(ref, reference_image)
    manifest.append(f'load {name} {ref} {tolerance} {flag}'.rstrip())


def load_with_tool(name, command, tolerance=0, flag=''):
    """Reference made by a tool that prints a PNM image of the file on standard output."""
    data = run(command.format(f=name))
    load(name, Image.open(io.BytesIO(data)), tolerance, flag)


def load_with_pillow(name, tolerance=0):
    load(name, Image.open(path(name)), tolerance)


def refuse(name, code):
    manifest.append(f'refuse {name} {code}')


def write(name, data):
    with open(path(name), 'wb') as f:
        f.write(data)


# The source picture: odd sizes (rows need padding), a smooth part and flat bands (runs).
W, H = 61, 37
BANDS = [(250, 20, 20), (20, 200, 40), (30, 40, 220), (255, 255, 255), (0, 0, 0), (200, 180, 0),
         (90, 0, 120), (10, 120, 130)]
src = Image.new('RGB', (W, H))
for y in range(H):
    for x in range(W):
        if x < 30:
            src.putpixel((x, y), ((x * 8) % 256, (y * 7) % 256, (x * y * 3) % 256))
        else:
            src.putpixel((x, y), BANDS[(y // 5 + (x > 50)) % len(BANDS)])
src.save(path('src.png'))
save_ppm('src.ppm', src)
pal200 = src.quantize(200)
pal16 = src.quantize(16)
pal4 = src.quantize(4)
pal8 = src.quantize(8)
grey = src.convert('L')
mono = grey.point(lambda v: 255 if v > 100 else 0).convert('1', dither=Image.Dither.NONE)
for name, image in [('pal200', pal200), ('pal16', pal16), ('pal4', pal4), ('pal8', pal8)]:
    save_ppm(name + '.ppm', image)
grey.save(path('grey.pgm'))
mono.save(path('mono.pbm'))

# ---------------------------------------------------------------- BMP
def make_bmp():
    mono.save(path('bmp_1.bmp'))
    load_with_pillow('bmp_1.bmp')
    run('convert pal16.ppm -colors 16 BMP3:bmp_4.bmp')
    load_with_pillow('bmp_4.bmp')
    pal200.save(path('bmp_8.bmp'))
    load_with_pillow('bmp_8.bmp')
    grey.save(path('bmp_8grey.bmp'))
    load_with_pillow('bmp_8grey.bmp')
    run('convert pal200.ppm -colors 200 -compress RLE BMP3:bmp_rle8.bmp')
    load_with_pillow('bmp_rle8.bmp')
    src.save(path('bmp_24.bmp'))
    load_with_pillow('bmp_24.bmp')
    src.convert('RGBA').save(path('bmp_32.bmp'))
    load_with_pillow('bmp_32.bmp')


    def bmp_file(width, height, bits, compression, pixels, palette=b'', masks=b'', info_size=40):
        """A 40-byte header, or a longer one whose bytes past 40 start with the masks."""
        info = struct.pack('<IiiHHIIiiII', info_size, width, height, 1, bits, compression, len(pixels),
                           2835, 2835, 0, 0) + masks
        info += b'\0' * (info_size - len(info))
        offset = 14 + len(info) + len(palette)
        header = struct.pack('<2sIHHI', b'BM', offset + len(pixels), 0, 0, offset)
        return header + info + palette + pixels


    def bmp_rows(image, pack, bottom_up=True):
        rows = []
        for y in range(image.height):
            row = pack([image.getpixel((x, y)) for x in range(image.width)])
            rows.append(row + b'\0' * (-len(row) % 4))
        if bottom_up:
            rows.reverse()
        return b''.join(rows)


    # Top-down 24-bit: the first file row is the top row.
    data = bmp_rows(src, lambda px: b''.join(bytes((b, g, r)) for r, g, b in px), bottom_up=False)
    write('bmp_24_topdown.bmp', bmp_file(W, -H, 24, 0, data))
    load('bmp_24_topdown.bmp', src)

    # 16-bit without masks (5-5-5) and with 5-6-5 bit fields; 32-bit bit fields.
    rgb555 = lambda px: b''.join(struct.pack('<H', (r >> 3) << 10 | (g >> 3) << 5 | b >> 3) for r, g, b in px)
    rgb565 = lambda px: b''.join(struct.pack('<H', (r >> 3) << 11 | (g >> 2) << 5 | b >> 3) for r, g, b in px)
    write('bmp_16.bmp', bmp_file(W, H, 16, 0, bmp_rows(src, rgb555)))
    load_with_pillow('bmp_16.bmp', 1)
    masks565 = struct.pack('<III', 0xF800, 0x07E0, 0x001F)
    write('bmp_16_565.bmp', bmp_file(W, H, 16, 3, bmp_rows(src, rgb565), masks=masks565))
    load_with_pillow('bmp_16_565.bmp', 1)
    masks888 = struct.pack('<III', 0xFF0000, 0xFF00, 0xFF)
    write('bmp_32_bitfields.bmp', bmp_file(
        W, H, 32, 3, bmp_rows(src, lambda px: b''.join(bytes((b, g, r, 0)) for r, g, b in px)), masks=masks888))
    load('bmp_32_bitfields.bmp', src)
    # Version 4 header: masks with alpha, colour space fields left zero.
    masks8888 = masks888 + struct.pack('<I', 0xFF000000)
    write('bmp_v4_32_alpha.bmp', bmp_file(
        W, H, 32, 3, bmp_rows(src, lambda px: b''.join(bytes((b, g, r, (r + b) // 2)) for r, g, b in px)),
        masks=masks8888, info_size=108))
    load('bmp_v4_32_alpha.bmp', src)

    # OS/2 1.x headers and version 5 headers as ImageMagick writes them.
    for name, command in [('bmp_os2_1.bmp', 'convert mono.pbm -type bilevel BMP2:bmp_os2_1.bmp'),
                          ('bmp_os2_4.bmp', 'convert pal16.ppm -colors 16 BMP2:bmp_os2_4.bmp'),
                          ('bmp_os2_8.bmp', 'convert pal200.ppm -colors 200 BMP2:bmp_os2_8.bmp'),
                          ('bmp_os2_24.bmp', 'convert src.ppm BMP2:bmp_os2_24.bmp'),
                          ('bmp_v5_24.bmp', 'convert src.ppm BMP:bmp_v5_24.bmp'),
                          ('bmp_v5_rle8.bmp', 'convert pal200.ppm -colors 200 BMP:bmp_v5_rle8.bmp'),
                          ('bmp_v5_32_alpha.bmp',
                           'convert src.ppm -alpha set -channel A -fx "u.r" BMP:bmp_v5_32_alpha.bmp')]:
        run(command)
        load_with_pillow(name)


    def bmp_palette(image):
        p = image.getpalette()[:48]
        p += [0] * (48 - len(p))
        return b''.join(bytes((p[3 * i + 2], p[3 * i + 1], p[3 * i], 0)) for i in range(16))


    def rle4(image):
        """RLE4 with runs, absolute runs, end-of-line codes and a final end-of-bitmap code."""
        out = bytearray()
        for y in reversed(range(image.height)):
            row = [image.getpixel((x, y)) for x in range(image.width)]
            x = 0
            while x < len(row):
                n = 1
                while x + n < len(row) and n < 255 and row[x + n] == row[x]:
                    n += 1
                if n >= 3 or len(row) - x < 3:
                    out += bytes((n, row[x] << 4 | row[x]))
                    x += n
                    continue
                n = min(len(row) - x, 20)
                values = row[x:x + n] + [0]
                out += bytes((0, n)) + bytes(values[i] << 4 | values[i + 1] for i in range(0, n, 2))
                if ((n + 1) // 2) % 2:
                    out += b'\0'
                x += n
            out += b'\0\0'
        return bytes(out + b'\0\1')


    write('bmp_rle4.bmp', bmp_file(W, H, 4, 2, rle4(pal16), palette=bmp_palette(pal16)))
    load('bmp_rle4.bmp', pal16)


# ---------------------------------------------------------------- PNM
def make_pnm():
    src.save(path('pnm_p6.ppm'))
    grey.save(path('pnm_p5.pgm'))
    mono.save(path('pnm_p4.pbm'))
    run('pnmtoplainpnm pnm_p6.ppm', 'pnm_p3.ppm')
    run('pnmtoplainpnm pnm_p5.pgm', 'pnm_p2.pgm')
    run('pnmtoplainpnm pnm_p4.pbm', 'pnm_p1.pbm')
    for name in ['pnm_p6.ppm', 'pnm_p5.pgm', 'pnm_p4.pbm', 'pnm_p3.ppm', 'pnm_p2.pgm', 'pnm_p1.pbm']:
        load_with_tool(name, 'ppmtoppm < {f}')
    # Comments between the header numbers, and one right after the magic.
    raw = src.tobytes()
    write('pnm_comments.ppm', b'P6# straight after the magic\n61 # width\n# a whole line\n37\n255\n' + raw)
    load('pnm_comments.ppm', src)
    write('pnm_comments.pgm', b'P2\n#c\n61 37\n# max\n255\n' +
          b' '.join(str(v).encode() for v in grey.tobytes()) + b'\n')
    load('pnm_comments.pgm', grey)
    # Odd maxima: samples are scaled to 0..255 with a truncating division.
    for name, command in [('pnm_max100.ppm', 'pamdepth 100 pnm_p6.ppm'),
                          ('pnm_max15.pgm', 'pamdepth 15 pnm_p5.pgm'),
                          ('pnm_max7.ppm', 'pamdepth 7 pnm_p6.ppm | pnmtoplainpnm'),
                          ('pnm_max200.pgm', 'pamdepth 200 pnm_p5.pgm | pnmtoplainpnm')]:
        run(command, name)
        load_with_tool(name, 'pamdepth 255 {f} | ppmtoppm', 1)
    # Maxima above 255: two bytes a raw sample, scaled to 8 bits with rounding as pamdepth does.
    for name, command in [('pnm_max1000.ppm', 'pamdepth 1000 pnm_p6.ppm'),
                          ('pnm_max65535.pgm', 'pamdepth 65535 pnm_p5.pgm'),
                          ('pnm_max65535.ppm', 'pamdepth 65535 pnm_p6.ppm'),
                          ('pnm_max4095.pgm', 'pamdepth 4095 pnm_p5.pgm'),
                          ('pnm_max65535_ascii.ppm', 'pamdepth 65535 pnm_p6.ppm | pnmtoplainpnm'),
                          ('pnm_max300_ascii.pgm', 'pamdepth 300 pnm_p5.pgm | pnmtoplainpnm')]:
        run(command, name)
        load_with_tool(name, 'pamdepth 255 {f} | ppmtoppm')


# ---------------------------------------------------------------- Targa
def make_tga():
    src.save(path('tga_24.tga'))
    src.save(path('tga_24_rle.tga'), rle=True)
    src.convert('RGBA').save(path('tga_32_rle.tga'), rle=True)
    src.convert('RGBA').save(path('tga_32.tga'))
    grey.save(path('tga_8grey.tga'))
    grey.save(path('tga_8grey_rle.tga'), rle=True)
    pal200.save(path('tga_map.tga'))
    pal200.save(path('tga_map_rle.tga'), rle=True)
    src.save(path('tga_topleft.tga'), orientation=1)
    for name in ['tga_24.tga', 'tga_24_rle.tga', 'tga_32_rle.tga', 'tga_32.tga', 'tga_8grey.tga',
                 'tga_8grey_rle.tga', 'tga_map.tga', 'tga_map_rle.tga', 'tga_topleft.tga']:
        load_with_pillow(name)
    run('ppmtotga src.ppm', 'tga_netpbm_rle.tga')
    run('ppmtotga -norle src.ppm', 'tga_netpbm.tga')
    run('ppmtotga -cmap16 pal16.ppm', 'tga_netpbm_map16.tga')
    run('ppmtotga -mono grey.pgm', 'tga_netpbm_grey.tga')
    for name in ['tga_netpbm_rle.tga', 'tga_netpbm.tga', 'tga_netpbm_map16.tga', 'tga_netpbm_grey.tga']:
        load_with_tool(name, 'tgatoppm {f}', 1)


    def tga_file(image_type, depth, descriptor, pixels, cmap=b'', cmap_length=0, cmap_depth=0, first=0):
        header = struct.pack('<BBBHHBHHHHBB', 0, 1 if cmap else 0, image_type, first, cmap_length,
                             cmap_depth, 0, 0, W, H, depth, descriptor)
        return header + cmap + pixels


    def tga_rows(pack, origin):
        rows = []
        order = range(H) if origin >= 2 else reversed(range(H))
        for y in order:
            xs = reversed(range(W)) if origin & 1 else range(W)
            rows.append(b''.join(pack(src.getpixel((x, y))) for x in xs))
        return rows


    def tga_rle(rows, unit):
        """Run-length packets that cross row ends, as some writers make them."""
        flat = b''.join(rows)
        pixels = [flat[i:i + unit] for i in range(0, len(flat), unit)]
        out = bytearray()
        i = 0
        while i < len(pixels):
            n = 1
            while i + n < len(pixels) and n < 128 and pixels[i + n] == pixels[i]:
                n += 1
            if n > 1:
                out += bytes((127 + n,)) + pixels[i]
            else:
                n = min(7, len(pixels) - i)
                out += bytes((n - 1,)) + b''.join(pixels[i:i + n])
            i += n
        return bytes(out)


    bgr = lambda p: bytes((p[2], p[1], p[0]))
    for origin, tag in [(0, 'bottomleft'), (1, 'bottomright'), (2, 'topleft'), (3, 'topright')]:
        write(f'tga_origin_{tag}.tga', tga_file(2, 24, origin << 4, b''.join(tga_rows(bgr, origin))))
        load(f'tga_origin_{tag}.tga', src)
    write('tga_rle_across_rows.tga', tga_file(10, 24, 3 << 4, tga_rle(tga_rows(bgr, 3), 3)))
    load('tga_rle_across_rows.tga', src)
    # 15 and 16-bit true colour: five bits a channel, blue lowest.
    five = lambda p: struct.pack('<H', (p[0] >> 3) << 10 | (p[1] >> 3) << 5 | p[2] >> 3)
    src5 = src.point(lambda v: round((v >> 3) * 255 / 31))
    write('tga_16.tga', tga_file(2, 16, 1 | 2 << 4, b''.join(tga_rows(five, 2))))
    load('tga_16.tga', src5)
    write('tga_15.tga', tga_file(2, 15, 2 << 4, b''.join(tga_rows(five, 2))))
    load('tga_15.tga', src5)
    write('tga_16_rle.tga', tga_file(10, 16, 1, tga_rle(tga_rows(five, 0), 2)))
    load('tga_16_rle.tga', src5)
    # Descriptors that claim more attribute bits than the pixel holds: 8 on 16 bits (the top
    # bit set, as an attribute), 8 on 24 bits.
    five_a = lambda p: struct.pack('<H', 0x8000 | struct.unpack('<H', five(p))[0])
    write('tga_16_attr8.tga', tga_file(2, 16, 8 | 2 << 4, b''.join(tga_rows(five_a, 2))))
    load('tga_16_attr8.tga', src5)
    write('tga_16_attr8_rle.tga', tga_file(10, 16, 8, tga_rle(tga_rows(five_a, 0), 2)))
    load('tga_16_attr8_rle.tga', src5)
    write('tga_24_attr8.tga', tga_file(2, 24, 8 | 2 << 4, b''.join(tga_rows(bgr, 2))))
    load('tga_24_attr8.tga', src)
    # A colour map whose first entry stands for pixel value 39; the first column holds a value
    # below the map and the second one above it, both black.
    first, palette = 39, pal200.getpalette()[:600]
    cmap = b''.join(bytes(palette[i:i + 3][::-1]) for i in range(0, 600, 3))
    values = [v + first for v in pal200.getdata()]
    mapped = pal200.convert('RGB')
    for y in range(H):
        values[y * W], values[y * W + 1] = first - 1, first + 200
        mapped.putpixel((0, y), (0, 0, 0))
        mapped.putpixel((1, y), (0, 0, 0))
    write('tga_map_first39.tga', tga_file(1, 8, 2 << 4, bytes(values), cmap, 200, 24, first))
    load('tga_map_first39.tga', mapped)


# ---------------------------------------------------------------- PCX
def make_pcx():
    pcx_cases = [('pcx_24.pcx', 'ppmtopcx src.ppm'),
                 ('pcx_256.pcx', 'ppmtopcx pal200.ppm'),
                 ('pcx_16_planes.pcx', 'ppmtopcx pal16.ppm'),
                 ('pcx_16_packed.pcx', 'ppmtopcx -packed pal16.ppm'),
                 ('pcx_4_packed.pcx', 'ppmtopcx -packed pal4.ppm'),
                 ('pcx_4_planes.pcx', 'ppmtopcx -planes 2 pal4.ppm'),
                 ('pcx_8_planes.pcx', 'ppmtopcx -planes 3 pal8.ppm'),
                 ('pcx_mono.pcx', 'pnmtoplainpnm mono.pbm | ppmtopcx')]
    for name, command in pcx_cases:
        run(command, name)
    run('convert src.ppm pcx_im_24.pcx')
    run('convert pal200.ppm -type palette pcx_im_256.pcx')
    run('convert mono.pbm -monochrome pcx_im_mono.pcx')
    for name, _ in pcx_cases + [('pcx_im_24.pcx', 0), ('pcx_im_256.pcx', 0), ('pcx_im_mono.pcx', 0)]:
        load_with_tool(name, 'pcxtoppm {f}')
    # Stored (not run-length) 8-bit lines, odd bytes per line, and the appended palette.
    line = W + 1
    header = struct.pack('<BBBBhhhhhh48sBBhh58s', 10, 5, 0, 8, 0, 0, W - 1, H - 1, 72, 72, b'', 0, 1,
                         line, 1, b'')
    body = b''.join(pal200.tobytes()[y * W:(y + 1) * W] + b'\0' for y in range(H))
    palette = bytes(pal200.getpalette()[:768]).ljust(768, b'\0')
    write('pcx_stored.pcx', header + body + b'\x0c' + palette)
    load('pcx_stored.pcx', pal200)


# ---------------------------------------------------------------- Sun raster
def make_sun():
    sun_cases = [('sun_1.ras', 'pnmtorast -standard mono.pbm'),
                 ('sun_8grey.ras', 'pnmtorast -standard grey.pgm'),
                 ('sun_8map.ras', 'pnmtorast -standard pal16.ppm'),
                 ('sun_24.ras', 'pnmtorast -standard src.ppm'),
                 ('sun_8grey_rle.ras', 'pnmtorast -rle grey.pgm'),
                 ('sun_8map_rle.ras', 'pnmtorast -rle pal16.ppm')]
    for name, command in sun_cases:
        run(command, name)
    run('convert src.ppm -alpha set sun_im_32.ras')
    run('convert src.ppm sun_im_24.ras')
    run('convert pal200.ppm -type palette sun_im_8.ras')
    for name, _ in sun_cases + [('sun_im_32.ras', 0), ('sun_im_24.ras', 0), ('sun_im_8.ras', 0)]:
        load_with_tool(name, 'rasttopnm {f}')
    run('pnmtorast -rle mono.pbm', 'sun_1_rle.ras')
    refuse('sun_1_rle.ras', 3)


    def sun_file(depth, ras_type, map_type, cmap, rows):
        body = b''.join(r + b'\0' * (len(r) % 2) for r in rows)
        return struct.pack('>8I', 0x59A66A95, W, H, depth, len(body), ras_type, map_type, len(cmap)) + cmap + body


    # RGB order (type 3) at 24 and 32 bits, a raw grey map (map type 2) and no map at all.
    rgb_rows = [b''.join(bytes(src.getpixel((x, y))) for x in range(W)) for y in range(H)]
    write('sun_24_rgb.ras', sun_file(24, 3, 0, b'', rgb_rows))
    load('sun_24_rgb.ras', src)
    xrgb_rows = [b''.join(b'\0' + bytes(src.getpixel((x, y))) for x in range(W)) for y in range(H)]
    write('sun_32_rgb.ras', sun_file(32, 3, 0, b'', xrgb_rows))
    load('sun_32_rgb.ras', src)
    grey_rows = [grey.tobytes()[y * W:(y + 1) * W] for y in range(H)]
    write('sun_8_nomap.ras', sun_file(8, 1, 0, b'', grey_rows))
    load('sun_8_nomap.ras', grey)
    inverse = bytes(255 - i for i in range(256))
    write('sun_8_rawmap.ras', sun_file(8, 1, 2, inverse, grey_rows))
    load('sun_8_rawmap.ras', grey.point(lambda v: 255 - v))


# ---------------------------------------------------------------- XPM
def make_xpm():
    # Colour names are not looked up by the reader: keep ImageMagick from writing "white" or "black"
    # by staying clear of those two colours.
    soft = src.point(lambda v: min(max(v, 1), 254))
    save_ppm('soft16.ppm', soft.quantize(16))
    save_ppm('soft200.ppm', soft.quantize(200))
    run('convert soft16.ppm -colors 16 xpm_1char.xpm')
    run('convert soft200.ppm -colors 200 xpm_2chars.xpm')
    run('ppmtoxpm -hexonly pal16.ppm', 'xpm_netpbm.xpm')
    for name in ['xpm_1char.xpm', 'xpm_2chars.xpm', 'xpm_netpbm.xpm']:
        load_with_tool(name, 'convert {f} ppm:-')
    # "None" for the pixels that are fully transparent.
    alpha = src.convert('RGBA')
    for y in range(H):
        for x in range(40, 50):
            alpha.putpixel((x, y), (0, 0, 0, 0))
    alpha.save(path('alpha.png'))
    run('convert alpha.png -colors 30 xpm_none.xpm')
    load_with_tool('xpm_none.xpm', 'convert {f} ppm:-', 0, 'transparent')
    run('ppmtoxpm src.ppm', 'xpm_too_many.xpm')
    refuse('xpm_too_many.xpm', 3)


wanted = sys.argv[2] if len(sys.argv) > 2 else ''
for prefix, make in [('bmp', make_bmp), ('pnm', make_pnm), ('tga', make_tga), ('pcx', make_pcx),
                     ('sun', make_sun), ('xpm', make_xpm)]:
    if prefix.startswith(wanted.rstrip('_')) or wanted.startswith(prefix):
        make()
with open(path('manifest.txt'), 'w') as f:
    f.write('\n'.join(manifest) + '\n')
