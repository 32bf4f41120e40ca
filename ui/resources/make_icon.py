#!/usr/bin/env python3
"""Draws Resicrypt's icons as 32 x 32 16-colour .ico files: the program's, a padlock,
and the one Explorer shows for .yal containers, a page with the padlock on it.

Run it again after changing a drawing:
    python3 make_icon.py [program.ico [container.ico]]
"""
import math
import struct
import sys

# The standard 16-colour palette (R, G, B).
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
BLACK, OLIVE, TEAL, SILVER, GRAY, YELLOW, WHITE = 0, 3, 6, 7, 8, 11, 15
SIZE = 32


def draw():
    """Returns rows of palette indexes, None for transparent, top row first."""
    pixels = [[None] * SIZE for _ in range(SIZE)]
    # Shackle: a thick arc over the body with two legs.
    cx, cy = 15.5, 12.0
    for y in range(SIZE):
        for x in range(SIZE):
            d = math.hypot(x - cx, y - cy)
            upper = y <= cy and 5.5 <= d <= 10.0
            legs = cy < y <= 15 and (5.5 <= abs(x - cx) <= 10.0)
            if upper or legs:
                edge = d > 9.2 or d < 6.3 if upper else abs(abs(x - cx) - 7.75) > 1.5
                pixels[y][x] = GRAY if edge else SILVER
    # Body: a rounded rectangle with a black outline and a darker lower right.
    left, right, top, bottom = 3, 28, 14, 29
    for y in range(top, bottom + 1):
        for x in range(left, right + 1):
            corner = (x in (left, right)) and (y in (top, bottom))
            if corner:
                continue
            outline = x in (left, right) or y in (top, bottom)
            if outline:
                pixels[y][x] = BLACK
            elif x >= right - 2 or y >= bottom - 2:
                pixels[y][x] = OLIVE
            elif x <= left + 2 and y <= top + 2 or y == top + 1:
                pixels[y][x] = WHITE
            else:
                pixels[y][x] = YELLOW
    # Keyhole: a round top and a slot, with a teal rim.
    kx, ky = 15.5, 20.0
    for y in range(top + 2, bottom - 2):
        for x in range(left + 2, right - 2):
            d = math.hypot(x - kx, y - ky)
            slot = ky <= y <= 26 and 14 <= x <= 17
            if d <= 2.6 or slot:
                pixels[y][x] = BLACK
            elif d <= 3.6 or (ky <= y <= 27 and 13 <= x <= 18):
                pixels[y][x] = TEAL
    return pixels


def draw_container():
    """A page with a folded corner and the padlock, smaller, on its lower part."""
    pixels = [[None] * SIZE for _ in range(SIZE)]
    left, right, top, bottom, fold = 4, 27, 0, 31, 7
    for y in range(top, bottom + 1):
        for x in range(left, right + 1):
            if x - (right - fold) > y - top:  # the corner folded away
                continue
            edge = x in (left, right) or y in (top, bottom) or x - (right - fold) == y - top
            pixels[y][x] = GRAY if edge else WHITE
    for y in range(top + 1, top + fold):  # the folded corner's back
        for x in range(right - fold + 1, right - fold + 1 + y - top):
            pixels[y][x] = SILVER
    for y in range(top + fold, top + fold + 1):
        for x in range(right - fold, right + 1):
            pixels[y][x] = GRAY
    # The padlock at three quarters of its size, nearest pixel.
    lock, scale, ox, oy = draw(), 3 / 4, 4, 7
    for y in range(oy, SIZE):
        for x in range(ox, ox + int(SIZE * scale)):
            p = lock[int((y - oy) / scale)][int((x - ox) / scale)] if (y - oy) / scale < SIZE else None
            if p is not None:
                pixels[y][x] = p
    return pixels


def ico(pixels):
    xor_rows, and_rows = [], []
    for row in reversed(pixels):  # bitmaps are stored bottom row first
        nibbles = [0 if p is None else p for p in row]
        xor_rows.append(bytes((nibbles[i] << 4) | nibbles[i + 1] for i in range(0, SIZE, 2)))
        mask = 0
        for p in row:
            mask = (mask << 1) | (1 if p is None else 0)
        and_rows.append(struct.pack(">I", mask))
    xor_bits, and_bits = b"".join(xor_rows), b"".join(and_rows)
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, 4, 0,
                         len(xor_bits) + len(and_bits), 0, 0, 16, 0)
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in PALETTE)
    image = header + palette + xor_bits + and_bits
    directory = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 16, 0, 1, 4, len(image), 6 + 16)
    return directory + entry + image


if __name__ == "__main__":
    outputs = (sys.argv[1:] + ["resicrypt.ico", "container.ico"][len(sys.argv) - 1:])[:2]
    for out, pixels in zip(outputs, (draw(), draw_container())):
        with open(out, "wb") as f:
            f.write(ico(pixels))
