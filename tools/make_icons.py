#!/usr/bin/env python3
"""Draws the Quellcore icons and writes them as .ico files.

The motif is a tiny usage graph: green bars on a dark panel, one red bar that rises
above a red limit line. Everything is drawn on a 16-unit grid and scaled by whole
pixels, so each size stays crisp.

    tools/make_icons.py [OUTPUT_DIR]     (default: monitor/ next to this script)

Writes quellcore.ico (16, 32 and 48 pixels) and small.ico (16 pixels).
Python 3 standard library only.
"""

import os
import struct
import sys

GRID = 16
PANEL = (28, 32, 40, 255)
PANEL_EDGE = (120, 132, 150, 255)
GRID_LINE = (0, 80, 0, 255)
AXIS = (150, 160, 175, 255)
GREEN = (40, 210, 70, 255)
GREEN_EDGE = (10, 110, 30, 255)
RED = (215, 30, 30, 255)
RED_EDGE = (120, 0, 0, 255)
LIMIT = (255, 90, 90, 255)
CLEAR = (0, 0, 0, 0)

BASE_Y = 13          # the bars stand on this grid row (excluded)
LIMIT_Y = 5          # the limit line's grid row
# (left column, height in grid units, over the limit)
BARS = ((2, 5, False), (5, 7, False), (8, 11, True), (11, 6, False))
BAR_WIDTH = 2


def draw(size):
    """Returns size*size RGBA tuples, row 0 at the top."""
    s = size // GRID
    px = [[CLEAR] * size for _ in range(size)]

    def fill(x0, y0, x1, y1, colour):
        for y in range(max(0, y0), min(size, y1)):
            for x in range(max(0, x0), min(size, x1)):
                px[y][x] = colour

    def box(x0, y0, x1, y1, colour, edge):
        fill(x0, y0, x1, y1, colour)
        if s > 1:
            fill(x0, y0, x1, y0 + 1, edge)
            fill(x0, y1 - 1, x1, y1, edge)
            fill(x0, y0, x0 + 1, y1, edge)
            fill(x1 - 1, y0, x1, y1, edge)

    # Panel with clipped corners.
    fill(0, 0, size, size, PANEL_EDGE)
    fill(1, 1, size - 1, size - 1, PANEL)
    corner = s + 1 if s > 1 else 1
    for cx, cy in ((0, 0), (size - corner, 0), (0, size - corner), (size - corner, size - corner)):
        for dy in range(corner):
            for dx in range(corner):
                dist_x = corner - 1 - dx if cx == 0 else dx
                dist_y = corner - 1 - dy if cy == 0 else dy
                if dist_x + dist_y >= corner:
                    px[cy + dy][cx + dx] = CLEAR

    # Faint grid on the larger sizes, as on the Graph page.
    if s > 1:
        for g in range(4, GRID, 4):
            fill(g * s, s, g * s + 1, size - s, GRID_LINE)
            fill(s, g * s, size - s, g * s + 1, GRID_LINE)

    # Base line.
    fill(s, BASE_Y * s, size - s, BASE_Y * s + max(1, s // 2), AXIS)

    for left, height, over in BARS:
        x0, x1 = left * s, (left + BAR_WIDTH) * s
        y0, y1 = (BASE_Y - height) * s, BASE_Y * s
        if over:
            box(x0, y0, x1, y1, RED, RED_EDGE)
        else:
            box(x0, y0, x1, y1, GREEN, GREEN_EDGE)

    # Limit line across the panel, drawn last so it crosses the red bar.
    thickness = 1 if s == 1 else s - 1 if s > 2 else 2
    fill(s, LIMIT_Y * s, size - s, LIMIT_Y * s + thickness, LIMIT)
    return px


def dib(size, px):
    """One icon image: BITMAPINFOHEADER, 32-bit BGRA rows bottom-up, then the AND mask."""
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    colour = bytearray()
    for row in reversed(px):
        for r, g, b, a in row:
            colour += bytes((b, g, r, a))
    mask_stride = ((size + 31) // 32) * 4
    mask = bytearray()
    for row in reversed(px):
        bits = bytearray(mask_stride)
        for x, (_, _, _, a) in enumerate(row):
            if a == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    return header + bytes(colour) + bytes(mask)


def ico(sizes):
    images = [dib(n, draw(n)) for n in sizes]
    out = bytearray(struct.pack("<HHH", 0, 1, len(images)))
    offset = 6 + 16 * len(images)
    for n, data in zip(sizes, images):
        out += struct.pack("<BBBBHHII", n % 256, n % 256, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    for data in images:
        out += data
    return bytes(out)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    out_dir = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "..", "monitor")
    with open(os.path.join(out_dir, "quellcore.ico"), "wb") as f:
        f.write(ico((16, 32, 48)))
    with open(os.path.join(out_dir, "small.ico"), "wb") as f:
        f.write(ico((16,)))
    return 0


if __name__ == "__main__":
    sys.exit(main())
