#!/usr/bin/python3
"""Writes a splash image for the tests: a card of WIDTH x HEIGHT pixels with rounded, transparent
corners, a vertical gradient and a disc of CENTRE colour in its middle (the pixel the tests look
at), as an 8-bit RGBA PNG.

Usage: make_splash.py OUT.png WIDTH HEIGHT
"""
import struct
import sys
import zlib

WIDTH, HEIGHT = 480, 270
RADIUS, DISC = 24, 48
CENTRE = (0xE8, 0x6A, 0x17)
TOP, BOTTOM = (0x1B, 0x2A, 0x4A), (0x2D, 0x4A, 0x7A)


def coverage(distance, radius):
    """How much of a pixel lies inside a circle edge, for a soft (anti-aliased) rim."""
    return max(0.0, min(1.0, radius - distance + 0.5))


def pixel(x, y):
    t = y / (HEIGHT - 1)
    colour = [round(a + (b - a) * t) for a, b in zip(TOP, BOTTOM)]
    # The disc in the middle.
    d = ((x + 0.5 - WIDTH / 2) ** 2 + (y + 0.5 - HEIGHT / 2) ** 2) ** 0.5
    k = coverage(d, DISC)
    colour = [round(c + (m - c) * k) for c, m in zip(colour, CENTRE)]
    # Rounded corners: outside the corner circles the card is transparent.
    cx = min(max(x + 0.5, RADIUS), WIDTH - RADIUS)
    cy = min(max(y + 0.5, RADIUS), HEIGHT - RADIUS)
    alpha = round(255 * coverage(((x + 0.5 - cx) ** 2 + (y + 0.5 - cy) ** 2) ** 0.5, RADIUS))
    return bytes(colour + [alpha])


def png():
    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data +
                struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))
    rows = b"".join(b"\0" + b"".join(pixel(x, y) for x in range(WIDTH)) for y in range(HEIGHT))
    return (b"\x89PNG\r\n\x1a\n" +
            chunk(b"IHDR", struct.pack(">IIBBBBB", WIDTH, HEIGHT, 8, 6, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(rows, 9)) + chunk(b"IEND", b""))


if __name__ == "__main__":
    WIDTH, HEIGHT = int(sys.argv[2]), int(sys.argv[3])
    with open(sys.argv[1], "wb") as out:
        out.write(png())
