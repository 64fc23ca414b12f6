#!/usr/bin/python3
"""Writes a publisher's icon with three images for the branding tests: 16x16 and 32x32 as 32-bit
DIBs with their AND masks, and 256x256 as a PNG, as icon editors store them.

Usage: make_multi_icon.py OUT.ico
"""

import struct
import sys
import zlib


def dib(size):
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    pixels = b"".join(bytes((x * 255 // size, y * 255 // size, 0x80, 0xFF))
                      for y in range(size) for x in range(size))
    mask = bytes(((size + 31) // 32) * 4 * size)
    return header + pixels + mask


def png(size):
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    rows = b"".join(b"\0" + b"".join(bytes((x & 0xFF, y & 0xFF, 0x40, 0xFF)) for x in range(size))
                    for y in range(size))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(rows, 9)) + chunk(b"IEND", b""))


def main(argv):
    if len(argv) != 2:
        print("usage: make_multi_icon.py OUT.ico", file=sys.stderr)
        return 2
    images = [(16, dib(16)), (32, dib(32)), (256, png(256))]
    offset = 6 + 16 * len(images)
    entries, data = b"", b""
    for size, image in images:
        entries += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(image), offset)
        offset += len(image)
        data += image
    with open(argv[1], "wb") as out:
        out.write(struct.pack("<HHH", 0, 1, len(images)) + entries + data)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
