#!/usr/bin/env python3
"""Draws the program icon (a chip with pins and an arrow) as tondrel.png, 64x64 RGBA, with
nothing but the standard library; tondrel.svg is the same picture for the desktop."""
import os
import struct
import zlib

W = H = 64
px = [[(0, 0, 0, 0)] * W for _ in range(H)]


def rect(x0, y0, w, h, c):
    for y in range(y0, y0 + h):
        for x in range(x0, x0 + w):
            px[y][x] = c


rect(14, 10, 36, 44, (0x2B, 0x3A, 0x4A, 255))
for y in (14, 22, 30, 38, 46):
    rect(6, y, 8, 3, (0xC0, 0xC8, 0xD0, 255))
    rect(50, y, 8, 3, (0xC0, 0xC8, 0xD0, 255))
for y in range(22, 41):  # the triangle, from (32,22) to the base at y=40
    half = (y - 22) * 8 // 18
    rect(32 - half, y, 2 * half + 1, 1, (0xF0, 0xA0, 0x20, 255))
rect(19, 14, 3, 3, (0xF0, 0xF0, 0xF0, 255))

raw = b"".join(b"\0" + bytes(c for p in row for c in p) for row in px)


def chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))


png = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", W, H, 8, 6, 0, 0, 0))
png += chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b"")
with open(os.path.join(os.path.dirname(os.path.abspath(__file__)), "tondrel.png"), "wb") as f:
    f.write(png)
