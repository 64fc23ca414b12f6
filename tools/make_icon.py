#!/usr/bin/python3
"""Writes the launcher icon: one 128x128 32-bit image stored as a DIB with its AND mask.

Usage: make_icon.py OUT.ico

The image data is a BITMAPINFOHEADER (height doubled for the mask), the 32-bit BGRA rows
bottom-up, then a 1-bit AND mask whose rows are padded to 32 bits: 40 + 65,536 + 2,048 =
67,624 bytes. The pixels are a rounded square with a diagonal gradient and a light arrow,
computed here so that the build needs no binary input.
"""

import struct
import sys

SIZE = 128
BPP = 32
HEADER_SIZE = 40
XOR_SIZE = SIZE * SIZE * 4
MASK_ROW = ((SIZE + 31) // 32) * 4
MASK_SIZE = MASK_ROW * SIZE
IMAGE_SIZE = HEADER_SIZE + XOR_SIZE + MASK_SIZE
assert IMAGE_SIZE == 67624

RADIUS = 24
MARGIN = 4


def inside_rounded_square(x, y):
    lo, hi = MARGIN, SIZE - 1 - MARGIN
    if x < lo or x > hi or y < lo or y > hi:
        return False
    cx = min(max(x, lo + RADIUS), hi - RADIUS)
    cy = min(max(y, lo + RADIUS), hi - RADIUS)
    return (x - cx) ** 2 + (y - cy) ** 2 <= RADIUS ** 2


def inside_arrow(x, y):
    """A right-pointing play arrow in the middle of the square (top-down coordinates)."""
    left, right, top, bottom = 44, 92, 34, 94
    if x < left or x > right or y < top or y > bottom:
        return False
    half = (bottom - top) / 2
    mid = top + half
    reach = (right - left) * (1 - abs(y - mid) / half)
    return x - left <= reach


def pixel(x, y):
    """BGRA of the pixel at column x, row y counted from the top."""
    if not inside_rounded_square(x, y):
        return (0, 0, 0, 0)
    if inside_arrow(x, y):
        return (250, 248, 245, 255)
    t = (x + y) / (2 * (SIZE - 1))
    red = int(30 + 40 * t)
    green = int(120 + 60 * t)
    blue = int(200 - 70 * t)
    return (blue, green, red, 255)


def image_bytes():
    header = struct.pack(
        "<IiiHHIIiiII",
        HEADER_SIZE,  # biSize
        SIZE,  # biWidth
        SIZE * 2,  # biHeight: the colour image and the mask
        1,  # biPlanes
        BPP,  # biBitCount
        0,  # biCompression: BI_RGB
        XOR_SIZE + MASK_SIZE,  # biSizeImage
        0,
        0,
        0,
        0,
    )
    xor = bytearray()
    mask = bytearray()
    for row in range(SIZE - 1, -1, -1):  # bottom-up
        mask_row = bytearray(MASK_ROW)
        for x in range(SIZE):
            b, g, r, a = pixel(x, row)
            xor += bytes((b, g, r, a))
            if a == 0:
                mask_row[x // 8] |= 0x80 >> (x % 8)
        mask += mask_row
    data = header + bytes(xor) + bytes(mask)
    assert len(data) == IMAGE_SIZE
    return data


def icon_file():
    image = image_bytes()
    directory = struct.pack("<HHH", 0, 1, 1)  # reserved, type icon, one image
    offset = len(directory) + 16
    entry = struct.pack(
        "<BBBBHHII",
        SIZE,  # width 128 fits the byte (0 would mean 256)
        SIZE,
        0,  # colour count: 0 for 32-bit images
        0,  # reserved
        1,  # planes
        BPP,
        len(image),
        offset,
    )
    return directory + entry + image


def main(argv):
    if len(argv) != 2:
        sys.stderr.write("usage: make_icon.py OUT.ico\n")
        return 2
    with open(argv[1], "wb") as out:
        out.write(icon_file())
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
