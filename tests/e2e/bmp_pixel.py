#!/usr/bin/env python3
"""bmp_pixel.py PAYLOAD NAME X Y...: "r,g,b" of pixels (X,Y) of a 24-bit
bottom-up picture stored in the payload archive, one line per point."""
import os
import struct
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from payload import read_archive  # noqa: E402


def main(payload, name, *coords):
    data = dict(read_archive(payload))[name]
    offset = struct.unpack_from('<I', data, 10)[0]
    width, height = struct.unpack_from('<ii', data, 18)
    bits = struct.unpack_from('<H', data, 28)[0]
    assert bits == 24 and height > 0, 'a bottom-up 24-bit picture is expected'
    stride = (width * 3 + 3) & ~3
    for x, y in zip(coords[0::2], coords[1::2]):
        at = offset + (height - 1 - int(y)) * stride + int(x) * 3
        b, g, r = data[at:at + 3]
        print('%d,%d,%d' % (r, g, b))


if __name__ == '__main__':
    main(*sys.argv[1:])
