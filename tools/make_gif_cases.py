#!/usr/bin/env python3
"""Makes the GIF test files written by other tools (ImageMagick, gifsicle, Pillow), which the
GIF tests compare frame by frame with giflib's decoding.

Usage: make_gif_cases.py OUTDIR

Stills: rose.gif, rose_il.gif, grad2.gif, grad16.gif, plasma.gif, sicle_il.gif, and
palN_W.gif for N = 1..8 bits (W = 1 when the palette holds white).
Animations: pil.gif, pil_loop0.gif, pil_local.gif, im.gif, opt.gif, opt_il.gif, layers.gif.
"""
import os
import subprocess
import sys

from PIL import Image, ImageDraw

OUT = sys.argv[1]
os.makedirs(OUT, exist_ok=True)


def run(command):
    subprocess.run(command, shell=True, check=True, cwd=OUT, capture_output=True)


def save(name, frames, **options):
    frames[0].save(os.path.join(OUT, name), save_all=len(frames) > 1, append_images=frames[1:],
                   **options)


# Stills of ImageMagick and gifsicle, plain and interlaced.
run('convert rose: rose.gif')
run('convert rose: -interlace GIF rose_il.gif')
run('convert -size 67x33 gradient:red-blue -colors 2 grad2.gif')
run('convert -size 67x33 gradient:red-blue -colors 16 grad16.gif')
run('convert -size 211x97 plasma:fractal -seed 3 -colors 256 plasma.gif')
run('gifsicle -i rose.gif -o sicle_il.gif')

# Pillow writes 87a for plain images, with a palette of 2^bits entries (at least 4); half of
# them hold white, half do not.
for bits in range(1, 9):
    for white in (0, 1):
        n = 1 << bits
        im = Image.new('P', (37, 23))
        pal = []
        for i in range(n):
            pal += [(i * 37) % 250, (i * 91) % 250, (i * 53) % 250]
        if white:
            pal[3 * (n - 1):] = [255, 255, 255]
        im.putpalette(pal)
        im.putdata([(x * 7 + x // 5) % n for x in range(37 * 23)])
        save('pal%d_%d.gif' % (bits, white), [im])

# Pillow animations: disposals 0 to 3 with transparency and a loop count of 3; a loop for ever;
# frames cut to what changed, each with a palette of its own colours.
frames = []
for i in range(5):
    im = Image.new('P', (30, 20), 0)
    pal = []
    for j in range(16):
        pal += [j * 16, 255 - j * 16, (j * 40) % 256]
    im.putpalette(pal)
    im.putdata([((x + i) // 3) % 16 if (x + y + i * 3) % 7 < 3 else 5
                for y in range(20) for x in range(30)])
    frames.append(im)
save('pil.gif', frames, duration=[10, 20, 30, 40, 50], loop=3, disposal=[0, 1, 2, 3, 1],
     transparency=5, optimize=False)
save('pil_loop0.gif', frames[:3], duration=70, loop=0, disposal=2)
a = Image.new('RGB', (60, 40), (200, 30, 30))
d = ImageDraw.Draw(a)
d.rectangle((0, 0, 20, 40), fill=(10, 200, 10))
d.rectangle((40, 0, 60, 40), fill=(250, 250, 0))
b = a.copy()
d = ImageDraw.Draw(b)
d.rectangle((5, 10, 50, 30), fill=(0, 0, 250))
d.rectangle((5, 10, 10, 12), fill=(0, 250, 250))
c = b.copy()
ImageDraw.Draw(c).rectangle((30, 5, 35, 35), fill=(90, 90, 90))
save('pil_local.gif', [a, b, c], duration=100, loop=0)

# ImageMagick and gifsicle animations: local palettes per frame, frames cut down to what
# changed with transparency, interlacing and disposal to background.
run('convert -size 40x30 gradient:red-yellow frame1.gif')
run("convert -size 40x30 gradient:blue-green -fill black -draw 'circle 20,15 25,15' frame2.gif")
run("convert -size 40x30 xc:white -fill red -draw 'rectangle 5,5 12,20' frame3.gif")
run('convert -delay 20 frame1.gif frame2.gif frame3.gif -loop 1 im.gif')
run('gifsicle -O2 --loopcount=0 --delay 5 frame1.gif frame2.gif frame3.gif frame1.gif -o opt.gif')
run('gifsicle -i --disposal background -O1 frame3.gif frame2.gif frame1.gif -o opt_il.gif')
run('convert -delay 15 frame1.gif frame2.gif frame3.gif -layers Optimize -loop 3 layers.gif')
