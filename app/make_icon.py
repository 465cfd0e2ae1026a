#!/usr/bin/env python3
"""Writes the application icon: 32 x 32 pixels, 16 colours, a stack of
written pages with a pen. Drawn here as shapes so that the repository holds
no binary picture."""
import struct
import sys

# The 16 standard colours, in palette order.
PALETTE = [0x000000, 0x800000, 0x008000, 0x808000, 0x000080, 0x800080, 0x008080, 0xC0C0C0,
           0x808080, 0xFF0000, 0x00FF00, 0xFFFF00, 0x0000FF, 0xFF00FF, 0x00FFFF, 0xFFFFFF]
BLACK, SILVER, GREY, WHITE, NAVY, YELLOW, RED, OLIVE = 0, 7, 8, 15, 4, 11, 9, 3
SIZE = 32


def draw():
    px = [[None] * SIZE for _ in range(SIZE)]  # None: transparent

    def rect(x0, y0, x1, y1, fill, edge=BLACK):
        for y in range(y0, y1 + 1):
            for x in range(x0, x1 + 1):
                on_edge = x in (x0, x1) or y in (y0, y1)
                px[y][x] = edge if on_edge else fill

    # Three pages, the front one written on.
    rect(9, 1, 28, 24, SILVER, GREY)
    rect(6, 3, 25, 26, WHITE, GREY)
    rect(3, 5, 22, 29, WHITE, BLACK)
    for y in range(9, 27, 3):
        for x in range(6, 20 if y < 24 else 14):
            px[y][x] = NAVY
    # The pen, lying across the pages from the lower left up to the right.
    for i in range(16):
        x, y = 13 + i, 25 - i
        px[y][x] = YELLOW
        px[y - 1][x] = OLIVE
        if y + 1 < SIZE:
            px[y + 1][x] = BLACK
    px[26][12], px[25][12], px[26][11] = BLACK, RED, BLACK
    return px


def ico(px):
    xor = b""
    mask = b""
    for row in reversed(px):  # bitmaps are stored bottom row first
        line = bytearray()
        for x in range(0, SIZE, 2):
            a = row[x] if row[x] is not None else 0
            b = row[x + 1] if row[x + 1] is not None else 0
            line.append(a << 4 | b)
        xor += bytes(line)
        bits = 0
        for x in range(SIZE):
            bits = bits << 1 | (1 if row[x] is None else 0)
        mask += struct.pack(">I", bits)
    palette = b"".join(struct.pack("<BBBB", c & 255, c >> 8 & 255, c >> 16, 0) for c in PALETTE)
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, 4, 0, len(xor) + len(mask), 0, 0, 16, 0)
    image = header + palette + xor + mask
    directory = struct.pack("<HHH", 0, 1, 1) + struct.pack("<BBBBHHII", SIZE, SIZE, 16, 0, 1, 4,
                                                          len(image), 6 + 16)
    return directory + image


if __name__ == "__main__":
    with open(sys.argv[1], "wb") as out:
        out.write(ico(draw()))
