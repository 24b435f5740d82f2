#!/usr/bin/env python3
"""Reads a screenshot of the monitor window and checks what a user would see on a page.

    pixels.py graph SHOT.png CLIENT_X CLIENT_Y GW GH LINE_Y [MIN_RED_BAR_PIXELS]
    pixels.py status SHOT.png CLIENT_X CLIENT_Y

CLIENT_X/Y: the main window's client origin on the screen; GW, GH: the graph area's
client size; LINE_Y: the threshold line's client y; MIN_RED_BAR_PIXELS: how many pixels of
throttled processes' bars the page must show (default 0). Prints key=value words; exit code
0 when the page looks as it should. Needs ImageMagick's convert.
"""

import subprocess
import sys

GRID = (0, 128, 0)
LINE = (240, 0, 0)
BLACK = (0, 0, 0)
GREEN_BAR = (0, 255, 0)
GRID_PITCH = 12
FIRST_VERTICAL = 4
FIRST_HORIZONTAL = 24
TAB_STRIP = 20


class Shot:
    def __init__(self, path):
        size = subprocess.run(["identify", "-format", "%w %h", path], check=True, capture_output=True,
                              text=True).stdout.split()
        self.width, self.height = int(size[0]), int(size[1])
        self.rgb = subprocess.run(["convert", path, "-depth", "8", "rgb:-"], check=True,
                                  capture_output=True).stdout

    def at(self, x, y):
        if not (0 <= x < self.width and 0 <= y < self.height):
            return None
        i = 3 * (y * self.width + x)
        return tuple(self.rgb[i:i + 3])


def share(pixels, wanted):
    pixels = [p for p in pixels if p is not None]
    return sum(1 for p in pixels if p in wanted) / len(pixels) if pixels else 0.0


def check_graph(shot, ox, oy, gw, gh, line_y, min_red=0):
    ok = True
    top, bottom = TAB_STRIP, gh + TAB_STRIP
    line_rows = (line_y, line_y + 1)
    # Bars may cover parts of the grid; the page must still be grid and black background.
    rows = [y for y in range(top + 2, bottom - 2) if y not in line_rows]
    columns = [x for x in range(0, gw)]
    verticals = list(range(FIRST_VERTICAL, gw, GRID_PITCH))
    horizontals = list(range(FIRST_HORIZONTAL, bottom, GRID_PITCH))
    v_share = share([shot.at(ox + x, oy + y) for x in verticals[:-1] for y in rows], {GRID, GREEN_BAR})
    h_share = share([shot.at(ox + x, oy + y) for y in horizontals if y not in line_rows for x in columns],
                    {GRID, GREEN_BAR})
    gaps = [x for x in range(0, gw) if (x - FIRST_VERTICAL) % GRID_PITCH not in (0,)]
    gap_rows = [y for y in rows if (y - FIRST_HORIZONTAL) % GRID_PITCH != 0]
    background = [shot.at(ox + x, oy + y) for x in gaps[::7] for y in gap_rows[::5]]
    black_share = share(background, {BLACK})
    line_share = min(share([shot.at(ox + x, oy + y) for x in columns], {LINE}) for y in line_rows)
    above = share([shot.at(ox + x, oy + line_y - 1) for x in columns], {LINE})
    page = [shot.at(ox + x, oy + y) for x in columns for y in rows]
    green = sum(1 for p in page if p == GREEN_BAR)
    red = sum(1 for p in page if p is not None and p[0] == 255 and p[2] == 0 and p[1] in (0, 128))
    print("vertical_grid=%.2f horizontal_grid=%.2f black_background=%.2f threshold_line=%.2f"
          " row_above_line=%.2f green_bar_pixels=%d red_bar_pixels=%d"
          % (v_share, h_share, black_share, line_share, above, green, red))
    ok &= v_share >= 0.8 and h_share >= 0.8
    ok &= black_share >= 0.8
    ok &= line_share >= 0.95 and above < 0.5
    ok &= red >= min_red
    return ok


def check_status(shot, ox, oy):
    # The page is filled with the window colour and carries one line of text at (5, 40).
    background = shot.at(ox + 300, oy + 200)
    text_box = [shot.at(ox + x, oy + y) for x in range(5, 200) for y in range(40, 56)]
    # Text pixels stand out from the page whatever the scheme: dark on light or light on dark.
    dark = sum(1 for p in text_box if p is not None and background is not None
               and sum(abs(a - b) for a, b in zip(p, background)) > 300)
    page = [shot.at(ox + x, oy + y) for x in range(0, 500, 5) for y in range(100, 300, 5)]
    plain = share(page, {background})
    print("page_colour=%s plain_page=%.2f text_pixels=%d" % (background, plain, dark))
    return background is not None and plain >= 0.95 and dark >= 50


def main():
    kind, path = sys.argv[1], sys.argv[2]
    numbers = [int(a) for a in sys.argv[3:]]
    shot = Shot(path)
    if kind == "graph" and len(numbers) in (5, 6):
        return 0 if check_graph(shot, *numbers) else 1
    if kind == "status" and len(numbers) == 2:
        return 0 if check_status(shot, *numbers) else 1
    print(__doc__)
    return 2


if __name__ == "__main__":
    sys.exit(main())
