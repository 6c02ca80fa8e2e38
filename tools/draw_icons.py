#!/usr/bin/env python3
"""Draws the Windows icons of the program into OUTPUT_DIR:

  korvela.ico       the program ("KORVL"): a framed picture, a sun over two hills
  korvela-file.ico  its documents ("ORVLFIL"): the same picture on a sheet with a folded corner

Each icon holds a 32 x 32 and a 16 x 16 image, 32-bit with alpha. Pure Python: the build
needs nothing else to make them.
"""
import struct
import sys
from pathlib import Path

SKY = (120, 180, 235)
SUN = (255, 200, 40)
FAR_HILL = (70, 140, 70)
NEAR_HILL = (40, 100, 45)
FRAME = (60, 50, 45)
SHEET = (250, 250, 250)
FOLD = (200, 200, 200)


def picture(x, y):
    """Colour of the framed picture at (x, y) in the unit square, or None outside it."""
    if not (0.0 <= x <= 1.0 and 0.0 <= y <= 1.0):
        return None
    if x < 0.08 or x > 0.92 or y < 0.08 or y > 0.92:
        return FRAME
    if (x - 0.68) ** 2 + (y - 0.32) ** 2 < 0.12 ** 2:
        return SUN
    if y > 0.80 - 0.35 * max(0.0, 1.0 - abs(x - 0.30) / 0.40):
        return NEAR_HILL if y > 0.86 - 0.25 * max(0.0, 1.0 - abs(x - 0.65) / 0.45) else FAR_HILL
    return SKY


def program_icon(x, y):
    return picture((x - 0.04) / 0.92, (y - 0.10) / 0.80)


def document_icon(x, y):
    if not (0.12 <= x <= 0.88 and 0.02 <= y <= 0.98):
        return None
    if x - 0.62 > y - 0.02:  # the folded corner is cut off the sheet...
        return None
    if x > 0.62 and y < 0.28:  # ...and lies over it
        return FOLD
    inside = picture((x - 0.22) / 0.56, (y - 0.40) / 0.46)
    return inside if inside is not None else SHEET


def render(shape, size):
    """Rows of (r, g, b, a), top row first; each pixel averages 4 x 4 samples."""
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            r = g = b = hits = 0
            for sy in range(4):
                for sx in range(4):
                    c = shape((px + (sx + 0.5) / 4) / size, (py + (sy + 0.5) / 4) / size)
                    if c is not None:
                        r, g, b, hits = r + c[0], g + c[1], b + c[2], hits + 1
            row.append((r // hits, g // hits, b // hits, hits * 255 // 16) if hits else (0, 0, 0, 0))
        rows.append(row)
    return rows


def icon_image(rows):
    """One image of an icon file: a bitmap header, the colour rows bottom-up, the mask."""
    size = len(rows)
    colours = b"".join(struct.pack("BBBB", b, g, r, a) for row in reversed(rows) for (r, g, b, a) in row)
    mask_stride = ((size + 31) // 32) * 4
    mask = bytearray()
    for row in reversed(rows):
        bits = bytearray(mask_stride)
        for x, (_, _, _, a) in enumerate(row):
            if a == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, len(colours) + len(mask), 0, 0, 0, 0)
    return header + colours + bytes(mask)


def icon_file(shape, sizes=(32, 16)):
    images = [icon_image(render(shape, s)) for s in sizes]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for s, data in zip(sizes, images):
        out += struct.pack("<BBBBHHII", s, s, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    return out + b"".join(images)


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: draw_icons.py OUTPUT_DIR")
    out = Path(sys.argv[1])
    out.mkdir(parents=True, exist_ok=True)
    (out / "korvela.ico").write_bytes(icon_file(program_icon))
    (out / "korvela-file.ico").write_bytes(icon_file(document_icon))


if __name__ == "__main__":
    main()
