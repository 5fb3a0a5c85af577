#!/usr/bin/env python3
"""Draws the tool-bar pictures as 32x32 RGBA PNG files in icons/, with nothing but the
standard library: a rounded tile in the tool bar's colour and a white pictogram, sampled 4x4 per
pixel for smooth edges. The window uses them where the desktop theme has no icon of its own.

Run it from anywhere; it rewrites icons/*.png beside this script."""
import math
import os
import struct
import zlib

SIZE = 32
SUB = 4  # samples per pixel along each axis
WHITE = (255, 255, 255)

# One colour per tool bar, so the four bars read apart at a glance.
MODE = (0x3A, 0x6E, 0xA5)
SEARCH = (0x2E, 0x8B, 0x57)
FLASH = (0xC0, 0x6A, 0x10)
EEPROM = (0x8A, 0x3F, 0xA0)


# ---- shapes: functions (x, y) -> bool in a 32-unit square ----


def rect(x0, y0, x1, y1):
    return lambda x, y: x0 <= x <= x1 and y0 <= y <= y1


def rounded(x0, y0, x1, y1, r):
    def inside(x, y):
        if not (x0 <= x <= x1 and y0 <= y <= y1):
            return False
        cx = min(max(x, x0 + r), x1 - r)
        cy = min(max(y, y0 + r), y1 - r)
        return (x - cx) ** 2 + (y - cy) ** 2 <= r * r

    return inside


def circle(cx, cy, r):
    return lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def ring(cx, cy, r, width, start=0.0, end=360.0):
    """A ring from start to end degrees, counter-clockwise from east (y grows downwards)."""

    def inside(x, y):
        d = math.hypot(x - cx, y - cy)
        if abs(d - r) > width / 2:
            return False
        if end - start >= 360:
            return True
        a = math.degrees(math.atan2(cy - y, x - cx)) % 360
        s, e = start % 360, end % 360
        return s <= a <= e if s <= e else a >= s or a <= e

    return inside


def line(x0, y0, x1, y1, width):
    def inside(x, y):
        dx, dy = x1 - x0, y1 - y0
        t = max(0.0, min(1.0, ((x - x0) * dx + (y - y0) * dy) / (dx * dx + dy * dy)))
        return math.hypot(x - (x0 + t * dx), y - (y0 + t * dy)) <= width / 2

    return inside


def polygon(points):
    def inside(x, y):
        hit = False
        j = len(points) - 1
        for i, (xi, yi) in enumerate(points):
            xj, yj = points[j]
            if (yi > y) != (yj > y) and x < (xj - xi) * (y - yi) / (yj - yi) + xi:
                hit = not hit
            j = i
        return hit

    return inside


def rotated_rect(cx, cy, w, h, degrees):
    a = math.radians(degrees)
    c, s = math.cos(a), math.sin(a)
    corners = [(-w / 2, -h / 2), (w / 2, -h / 2), (w / 2, h / 2), (-w / 2, h / 2)]
    return polygon([(cx + x * c - y * s, cy + x * s + y * c) for x, y in corners])


# ---- pictograms: lists of (shape, colour); later layers paint over earlier ones ----


def chip_pins(x0, x1, ys, length=4, thick=2):
    return [rect(x0 - length, y, x0, y + thick) for y in ys] + [
        rect(x1, y, x1 + length, y + thick) for y in ys
    ]


def chip(bg):
    return [(rect(10, 8, 22, 24), WHITE), (circle(16, 8, 2.2), bg)] + [
        (s, WHITE) for s in chip_pins(10, 22, (10, 14.5, 19))
    ]


def eprom(bg):
    return [
        (rect(9, 7, 23, 25), WHITE),
        (circle(16, 16, 4.2), bg),
        (circle(16, 16, 2.6), (0xB8, 0xD8, 0xF0)),
    ] + [(s, WHITE) for s in chip_pins(9, 23, (9, 13, 17, 21), 3, 1.6)]


def fpga(bg):
    layers = [(rect(9, 9, 23, 23), WHITE)]
    for i in range(3):
        for j in range(3):
            layers.append((rect(11 + 4 * i, 11 + 4 * j, 13 + 4 * i, 13 + 4 * j), bg))
    for p in (11.5, 15.5, 19.5):
        layers += [
            (rect(p, 5, p + 1.2, 9), WHITE),
            (rect(p, 23, p + 1.2, 27), WHITE),
            (rect(5, p, 9, p + 1.2), WHITE),
            (rect(23, p, 27, p + 1.2), WHITE),
        ]
    return layers


def cpu(bg):
    layers = fpga(bg)[:1] + [l for l in fpga(bg)[10:]]
    return layers + [(rect(12, 12, 20, 20), bg), (rect(14, 14, 18, 18), WHITE)]


def question(bg):
    return [
        (ring(16, 16, 11, 2.2), WHITE),
        (ring(16, 13, 4, 2.6, -40, 180), WHITE),
        (line(19, 15.5, 16, 18, 2.6), WHITE),
        (line(16, 18, 16, 19.5, 2.6), WHITE),
        (circle(16, 23, 1.6), WHITE),
    ]


def power(bg):
    return [(ring(16, 17, 8.5, 3, 125, 415), WHITE), (line(16, 6, 16, 16, 3), WHITE)]


def magnifier(bg):
    return [(ring(14, 14, 6.5, 3), WHITE), (line(19, 19, 25, 25, 4), WHITE)]


def chip_list(bg):
    layers = []
    for y in (9, 16, 23):
        layers += [(circle(9, y, 1.8), WHITE), (line(13, y, 24, y, 2.4), WHITE)]
    return layers


def folder(bg):
    return [
        (polygon([(6, 10), (12, 10), (14, 12), (26, 12), (26, 24), (6, 24)]), WHITE),
        (polygon([(9, 15), (28, 15), (25, 24), (6, 24)]), (0xFF, 0xE2, 0xA8)),
    ]


def play(bg):
    return [(polygon([(11, 7), (25, 16), (11, 25)]), WHITE), (rect(6, 7, 8.5, 25), WHITE)]


def read_chip(bg):
    # From the chip up into the computer: an arrow leaving a chip.
    return [
        (rect(8, 20, 24, 25), WHITE),
        (line(16, 17, 16, 9, 3), WHITE),
        (polygon([(10, 11), (16, 5), (22, 11)]), WHITE),
    ]


def write_chip(bg):
    return [
        (rect(8, 20, 24, 25), WHITE),
        (line(16, 5, 16, 12, 3), WHITE),
        (polygon([(10, 11), (16, 17.5), (22, 11)]), WHITE),
    ]


def gear(bg):
    layers = [(circle(16, 16, 8), WHITE)]
    layers += [(rotated_rect(16 + 9 * math.cos(math.radians(a)),
                             16 + 9 * math.sin(math.radians(a)), 4, 4, a), WHITE)
               for a in range(0, 360, 45)]
    return layers + [(circle(16, 16, 3.2), bg)]


def reset(bg):
    return [
        (ring(16, 16, 8, 3, 110, 400), WHITE),
        (polygon([(10, 4.5), (18, 8.5), (10, 12.5)]), WHITE),
    ]


ICONS = {
    "mcu": (MODE, chip),
    "eprom": (MODE, eprom),
    "fpga": (MODE, fpga),
    "arm": (MODE, cpu),
    "about": (MODE, question),
    "quit": (MODE, power),
    "search": (SEARCH, magnifier),
    "select": (SEARCH, chip_list),
    "open-flash": (FLASH, folder),
    "auto-program": (FLASH, play),
    "read-flash": (FLASH, read_chip),
    "write-flash": (FLASH, write_chip),
    "configure": (FLASH, gear),
    "reset": (FLASH, reset),
    "open-eeprom": (EEPROM, folder),
    "read-eeprom": (EEPROM, read_chip),
    "write-eeprom": (EEPROM, write_chip),
}


def render(bg, glyph):
    layers = [(rounded(1, 1, 31, 31, 6), bg)] + glyph(bg)
    rows = []
    for py in range(SIZE):
        row = bytearray()
        for px in range(SIZE):
            r = g = b = a = 0
            for sy in range(SUB):
                for sx in range(SUB):
                    x = px + (sx + 0.5) / SUB
                    y = py + (sy + 0.5) / SUB
                    colour = None
                    for shape, c in layers:
                        if shape(x, y):
                            colour = c
                    if colour:
                        r, g, b, a = r + colour[0], g + colour[1], b + colour[2], a + 1
            n = SUB * SUB
            if a:
                row += bytes((r // a, g // a, b // a, 255 * a // n))
            else:
                row += bytes(4)
        rows.append(b"\0" + bytes(row))
    return b"".join(rows)


def png(raw):
    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data +
                struct.pack(">I", zlib.crc32(kind + data)))

    head = struct.pack(">IIBBBBB", SIZE, SIZE, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", head) + chunk(b"IDAT", zlib.compress(raw, 9)) +
            chunk(b"IEND", b""))


def main():
    out = os.path.join(os.path.dirname(os.path.abspath(__file__)), "icons")
    os.makedirs(out, exist_ok=True)
    for name, (bg, glyph) in ICONS.items():
        with open(os.path.join(out, name + ".png"), "wb") as f:
            f.write(png(render(bg, glyph)))


if __name__ == "__main__":
    main()
