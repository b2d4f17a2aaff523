#!/usr/bin/env python3
"""Writes the program icon "mofahu": 32 x 32 pixels, 16 colours.

The picture: an ink-blue tile with a brush tip of black ink above a raft of
three wooden planks on light water. Drawn here so the build needs no binary.
"""
import struct
import sys

# The standard 16-colour palette (BGR0 in the file).
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
BLACK, MAROON, NAVY, SILVER, GREY, BLUE, CYAN, WHITE, OLIVE, YELLOW = 0, 1, 4, 7, 8, 12, 14, 15, 3, 11


def picture():
    px = [[None] * 32 for _ in range(32)]  # None = transparent
    for y in range(32):
        for x in range(32):
            corner = min(x, 31 - x) + min(y, 31 - y)
            if corner >= 3:
                px[y][x] = NAVY if y < 20 else BLUE
    # water ripples
    for y in (23, 27):
        for x in range(4, 28):
            if (x + y) % 6 < 3:
                px[y][x] = CYAN
    # raft: three planks with dark seams
    for y in range(17, 23):
        for x in range(6, 26):
            px[y][x] = OLIVE if y not in (19, 21) else MAROON
    for x in (8, 23):
        for y in range(16, 24):
            px[y][x] = MAROON
    # brush tip of ink, point down
    for y in range(3, 15):
        half = max(0, 4 - abs(y - 8) // 2) if y < 12 else 14 - y
        for x in range(16 - half, 16 + half + 1):
            px[y][x] = BLACK
    for y in range(3, 6):
        px[y][15] = SILVER
    px[14][16] = WHITE
    return px


def icon_bytes():
    px = picture()
    header = struct.pack('<IiiHHIIiiII', 40, 32, 64, 1, 4, 0, 0, 0, 0, 16, 0)
    palette = b''.join(struct.pack('<BBBB', b, g, r, 0) for (r, g, b) in PALETTE)
    xor = bytearray()
    mask = bytearray()
    for y in range(31, -1, -1):  # bottom-up rows
        row = px[y]
        for x in range(0, 32, 2):
            hi = row[x] if row[x] is not None else 0
            lo = row[x + 1] if row[x + 1] is not None else 0
            xor.append((hi << 4) | lo)
        bits = 0
        for x in range(32):
            bits = (bits << 1) | (1 if row[x] is None else 0)
        mask += bits.to_bytes(4, 'big')
    image = header + palette + bytes(xor) + bytes(mask)
    directory = struct.pack('<HHH', 0, 1, 1)
    entry = struct.pack('<BBBBHHII', 32, 32, 16, 0, 1, 4, len(image), 6 + 16)
    return directory + entry + image


if __name__ == '__main__':
    with open(sys.argv[1], 'wb') as f:
        f.write(icon_bytes())
