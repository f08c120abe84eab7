#!/usr/bin/env python3
"""Draws the programs' icons and writes them as .ico files.

The pictures are computed from a few shapes, so the icons can be rebuilt byte for byte
from this script alone:
  make_icons.py vorntray OUT.ico    six images: 48, 32 and 16 px, each at 8 and 32 bits per pixel
  make_icons.py installzel OUT.ico  one 32 x 32 image with 16 colours
"""
import struct
import sys

FRAME = (0x30, 0x34, 0x3C)
SCREEN_TOP = (0x3A, 0x8E, 0xE6)
SCREEN_BOTTOM = (0x12, 0x3E, 0x8C)
STAND = (0x70, 0x76, 0x80)
HIGHLIGHT = (0xF2, 0xF6, 0xFA)


def panel_pixels(size):
    """A small LCD panel on a stand: RGBA rows, top row first."""
    rows = [[None] * size for _ in range(size)]
    left, right = size // 16, size - 1 - size // 16
    top, bottom = size // 8, size * 11 // 16
    border = max(1, size // 16)
    for y in range(top, bottom + 1):
        for x in range(left, right + 1):
            if x - left < border or right - x < border or y - top < border or bottom - y < border:
                rows[y][x] = FRAME
            else:
                t = (y - top) / max(1, bottom - top)
                rows[y][x] = tuple(round(a + (b - a) * t) for a, b in zip(SCREEN_TOP, SCREEN_BOTTOM))
    # Two text-like bars on the screen, the first one longer.
    for i, length in enumerate((0.55, 0.35)):
        y = top + border + 1 + i * max(2, size // 8)
        for x in range(left + border + 1, left + border + 1 + int((right - left) * length)):
            if y < bottom - border:
                rows[y][x] = HIGHLIGHT
    neck = max(1, size // 12)
    mid = size // 2
    for y in range(bottom + 1, size - size // 8):
        for x in range(mid - neck, mid + neck):
            rows[y][x] = STAND
    for y in range(size - size // 8, size - size // 16):
        for x in range(size // 4, size - size // 4):
            rows[y][x] = STAND
    return rows


def bmp_image(rows, bits, palette=None):
    """One icon image: BITMAPINFOHEADER, palette, colour bits and the AND mask, rows bottom-up."""
    size = len(rows)
    colours = len(palette) if palette else 0
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, bits, 0, 0, 0, 0, colours if bits < 8 else 0, 0)
    pal = b''.join(struct.pack('<BBBB', b, g, r, 0) for r, g, b in (palette or []))
    if palette and bits == 8:
        pal += b'\0\0\0\0' * (256 - len(palette))
    xor = bytearray()
    for row in reversed(rows):
        line = bytearray()
        if bits == 32:
            for px in row:
                line += bytes((px[2], px[1], px[0], 0xFF)) if px else b'\0\0\0\0'
        elif bits == 8:
            line += bytes(palette.index(px) if px else 0 for px in row)
        else:
            idx = [palette.index(px) if px else 0 for px in row]
            line += bytes((idx[i] << 4) | idx[i + 1] for i in range(0, size, 2))
        line += b'\0' * (-len(line) % 4)
        xor += line
    mask = bytearray()
    for row in reversed(rows):
        line = bytearray((size + 7) // 8)
        for x, px in enumerate(row):
            if px is None:
                line[x // 8] |= 0x80 >> (x % 8)
        line += b'\0' * (-len(line) % 4)
        mask += line
    return header + pal + bytes(xor) + bytes(mask)


def palette_of(images):
    colours = [(0, 0, 0)]
    for rows in images:
        for row in rows:
            for px in row:
                if px and px not in colours:
                    colours.append(px)
    return colours


def quantize(rows, palette):
    """Maps every pixel to the nearest colour of a fixed palette."""
    def nearest(px):
        return min(palette, key=lambda c: sum((a - b) ** 2 for a, b in zip(c, px)))
    return [[nearest(px) if px else None for px in row] for row in rows]


def write_ico(path, entries):
    """entries: (size, colour count byte, bits, image bytes)."""
    out = struct.pack('<HHH', 0, 1, len(entries))
    offset = 6 + 16 * len(entries)
    for size, count, bits, data in entries:
        out += struct.pack('<BBBBHHII', size % 256, size % 256, count, 0, 1, bits, len(data), offset)
        offset += len(data)
    out += b''.join(data for _, _, _, data in entries)
    with open(path, 'wb') as f:
        f.write(out)


# The 16 colours of the classic VGA palette, as a 4-bit icon uses them.
VGA16 = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128), (0, 128, 128),
         (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0), (0, 0, 255),
         (255, 0, 255), (0, 255, 255), (255, 255, 255)]


def main():
    if len(sys.argv) != 3 or sys.argv[1] not in ('vorntray', 'installzel'):
        sys.exit(__doc__)
    if sys.argv[1] == 'vorntray':
        sizes = (48, 32, 16)
        pictures = [panel_pixels(s) for s in sizes]
        palette = palette_of(pictures)
        entries = [(s, 0, 8, bmp_image(p, 8, palette)) for s, p in zip(sizes, pictures)]
        entries += [(s, 0, 32, bmp_image(p, 32)) for s, p in zip(sizes, pictures)]
    else:
        entries = [(32, 16, 4, bmp_image(quantize(panel_pixels(32), VGA16), 4, VGA16))]
    write_ico(sys.argv[2], entries)


if __name__ == '__main__':
    main()
