#!/usr/bin/env python3
"""Draws the window icon and the logo of Kestrel.

The icon is an hourglass under a red prohibition sign: 32 by 32 pixels in 16
colours, pixel by pixel (an XPM for the window and a PNG for the desktop's
icon theme); at 16, 24, 48, 64, 128 and 256 pixels with smooth edges and
shading, drawn from the same shapes at each size (PNGs for the icon theme and
the window); and those shapes as an SVG for the theme's scalable size. The logo is 180 by 180 pixels in 16 colours: a maker's mark (a kestrel
in flight inside a lozenge) and the name KESTREL in cut-out letters on a red
ground. Run from any folder; the files land beside this one.

    python3 resources/draw_images.py
"""

import math
import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))


def write_xpm(path, name, pixels, palette):
    """pixels: rows of one-character colour keys; palette: key -> colour."""
    height = len(pixels)
    width = len(pixels[0])
    lines = ["/* XPM */", f"static const char *{name}[] = {{",
             f'"{width} {height} {len(palette)} 1",']
    for key, colour in palette.items():
        lines.append(f'"{key} c {colour}",')
    for i, row in enumerate(pixels):
        lines.append(f'"{row}"' + ("," if i + 1 < height else ""))
    lines.append("};")
    with open(path, "w", encoding="ascii") as out:
        out.write("\n".join(lines) + "\n")


def write_png(path, rows):
    """rows: rows of (red, green, blue, alpha) tuples, 8 bits each."""
    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data +
                struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))
    raw = b"".join(b"\0" + bytes(channel for pixel in row for channel in pixel) for row in rows)
    header = struct.pack(">IIBBBBB", len(rows[0]), len(rows), 8, 6, 0, 0, 0)
    with open(path, "wb") as out:
        out.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) +
                  chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def rgba(colour):
    """"#RRGGBB" or "None" as a (red, green, blue, alpha) tuple."""
    if colour == "None":
        return (0, 0, 0, 0)
    return (int(colour[1:3], 16), int(colour[3:5], 16), int(colour[5:7], 16), 255)


def inside_polygon(x, y, points):
    """Even-odd rule for the pixel centre (x + 0.5, y + 0.5)."""
    px, py = x + 0.5, y + 0.5
    inside = False
    for i, (x1, y1) in enumerate(points):
        x2, y2 = points[i - 1]
        if (y1 > py) != (y2 > py):
            cross = x1 + (py - y1) * (x2 - x1) / (y2 - y1)
            if px < cross:
                inside = not inside
    return inside


# --- the icon -------------------------------------------------------------

ICON_PALETTE = {
    ".": "None",
    "k": "#000000",  # outlines
    "w": "#8B5A2B",  # the hourglass's wooden ends
    "g": "#C0C0C0",  # glass
    "s": "#E8C000",  # sand
    "r": "#E00000",  # the sign
    "d": "#800000",  # the sign's edge
}


def hourglass_pixel(x, y):
    if 4 <= y <= 6 and 8 <= x <= 23:
        return "k" if y in (4, 6) or x in (8, 23) else "w"
    if 25 <= y <= 27 and 8 <= x <= 23:
        return "k" if y in (25, 27) or x in (8, 23) else "w"
    if 7 <= y <= 24:
        # The glass narrows from 6 pixels either side to the waist at 15/16.
        half = 1 + abs(y - 15.5) * 5 / 8.5
        offset = abs(x - 15.5)
        if offset > half + 0.5:
            return None
        if offset > half - 0.5:
            return "k"
        top_sand = 11 <= y <= 15
        bottom_sand = y >= 20
        trickle = 16 <= y <= 19 and x in (15, 16)
        return "s" if top_sand or bottom_sand or trickle else "g"
    return None


def sign_pixel(x, y):
    cx, cy = 15.5, 15.5
    dx, dy = x + 0.5 - 16, y + 0.5 - 16
    distance = math.hypot(x - cx, y - cy)
    if 12.0 <= distance <= 15.6:
        return "d" if distance > 15.0 or distance < 12.6 else "r"
    # The bar runs from the upper left to the lower right.
    if distance < 12.6 and abs(dx - dy) / math.sqrt(2) <= 1.9:
        return "r"
    return None


def draw_icon():
    rows = []
    for y in range(32):
        row = ""
        for x in range(32):
            row += sign_pixel(x, y) or hourglass_pixel(x, y) or "."
        rows.append(row)
    return rows


# --- the large icon ---------------------------------------------------------
# The same picture at 256 pixels, drawn from shapes rather than scaled: each
# pixel is the average of 4 by 4 samples, so edges are smooth, and the glass,
# the wood and the sign are shaded.

LARGE = 256
SAMPLES = 4


def large_sign(x, y):
    """The prohibition sign at a point, or None outside it."""
    centre = LARGE / 2
    distance = math.hypot(x - centre, y - centre)
    if 98 <= distance <= 125:
        edge = min(distance - 98, 125 - distance)
        return (150, 0, 0) if edge < 3 else (226, 24, 24)
    # The bar runs from the upper left to the lower right.
    across = abs((x - centre) - (y - centre)) / math.sqrt(2)
    if distance < 99 and across <= 15:
        return (150, 0, 0) if across > 12.5 else (226, 24, 24)
    return None


def large_hourglass(x, y):
    """The hourglass at a point, or None outside it."""
    centre = LARGE / 2
    offset = abs(x - centre)
    # The wooden ends: rounded bars, lighter towards their top.
    for top in (34, 202):
        if 64 <= x <= 192 and top <= y <= top + 20:
            corner = max(0, 70 - x, x - 186) ** 2 + max(0, top + 6 - y, y - (top + 14)) ** 2
            if corner > 36:
                continue
            if x < 67 or x > 189 or y < top + 3 or y > top + 17:
                return (40, 24, 8)
            shade = 1.2 - (y - top) / 40
            return (int(139 * shade), int(90 * shade), int(43 * shade))
    if not 54 <= y <= 202:
        return None
    # The glass narrows from 56 pixels either side to the waist at the middle.
    half = 8 + abs(y - centre) * 48 / 74
    if offset > half + 3:
        return None
    if offset > half:
        return (40, 40, 48)
    sand_top = 84 <= y <= 124
    mound = 202 - 26 * max(0.0, 1 - (offset / 52) ** 2)
    if sand_top or y >= mound or (124 <= y <= 200 and offset <= 2.5):
        return (232, 192, 0) if x - centre < half * 0.4 else (200, 158, 0)
    # Glass, with a highlight along its left side.
    if -half * 0.8 < x - centre < -half * 0.55:
        return (245, 248, 255)
    return (196, 204, 214)


def draw_large_icon(size=LARGE):
    """The shapes at `size` pixels, each pixel the average of its samples."""
    scale = LARGE / size
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            total = [0, 0, 0, 0]
            for sy in range(SAMPLES):
                for sx in range(SAMPLES):
                    x = (px + (sx + 0.5) / SAMPLES) * scale
                    y = (py + (sy + 0.5) / SAMPLES) * scale
                    colour = large_sign(x, y) or large_hourglass(x, y)
                    if colour:
                        for i in range(3):
                            total[i] += colour[i]
                        total[3] += 255
            count = SAMPLES * SAMPLES
            covered = total[3] // 255
            if covered == 0:
                row.append((0, 0, 0, 0))
            else:
                row.append(tuple(total[i] // covered for i in range(3)) + (total[3] // count,))
        rows.append(row)
    return rows


SMOOTH_SIZES = (16, 24, 48, 64, 128, 256)


def svg_icon():
    """The shapes of the large icon as an SVG of 256 by 256 units, without
    clipping, which not every renderer of icons follows."""
    c = LARGE / 2
    reach = 99 / math.sqrt(2)

    def polygon(points, colour, extra=""):
        text = " ".join(f"{x:g},{y:g}" for x, y in points)
        return f'<polygon points="{text}" fill="{colour}"{extra}/>'

    def half(y):
        """Half the width of the glass at height y."""
        return 8 + abs(y - c) * 48 / 74

    glass = [(c - 56, 54), (c - 8, c), (c - 56, 202), (c + 56, 202), (c + 8, c), (c + 56, 54)]
    sand = [(c - half(84), 84), (c + half(84), 84), (c + half(124), 124), (c - half(124), 124)]
    highlight = [(c - x * 0.8 if i < 1 or i > 3 else c - x * 0.55, y)
                 for i, (x, y) in enumerate([(56, 54), (56, 54), (8, c), (56, 202), (56, 202),
                                             (8, c)])]
    ends = "".join(
        f'<rect x="65.5" y="{top + 1.5}" width="125" height="17" rx="6" fill="#8b5a2b" '
        f'stroke="#281808" stroke-width="3"/>' for top in (34, 202))
    bar = f'x1="{c - reach:g}" y1="{c - reach:g}" x2="{c + reach:g}" y2="{c + reach:g}"'
    return "\n".join([
        '<svg xmlns="http://www.w3.org/2000/svg" width="256" height="256" viewBox="0 0 256 256">',
        "<title>Kestrel</title>",
        polygon(glass, "#c4ccd6", ' stroke="#282830" stroke-width="6" stroke-linejoin="round"'),
        polygon(highlight, "#f5f8ff"),
        polygon(sand, "#e8c000"),
        f'<rect x="{c - 2.5:g}" y="124" width="5" height="78" fill="#e8c000"/>',
        f'<path d="M {c - 52:g} 202 Q {c:g} 150 {c + 52:g} 202 Z" fill="#e8c000"/>',
        ends,
        f'<circle cx="{c:g}" cy="{c:g}" r="111.5" fill="none" stroke="#960000" stroke-width="27"/>',
        f'<circle cx="{c:g}" cy="{c:g}" r="111.5" fill="none" stroke="#e21818" stroke-width="21"/>',
        f'<line {bar} stroke="#960000" stroke-width="30"/>',
        f'<line {bar} stroke="#e21818" stroke-width="25"/>',
        "</svg>", ""])


# --- the logo -------------------------------------------------------------

LOGO_PALETTE = {
    "r": "#C00000",  # the red ground
    "d": "#600000",  # its border and the shadow inside the cut-outs
    "w": "#FFFFFF",  # the mark
    "c": "#FFF4D8",  # the paper seen through the cut-out letters
    "h": "#FF6060",  # the light edge below the cut-outs
}

GLYPHS = {
    "K": ["X...X", "X..X.", "X.X..", "XX...", "X.X..", "X..X.", "X...X"],
    "E": ["XXXXX", "X....", "X....", "XXXX.", "X....", "X....", "XXXXX"],
    "S": [".XXXX", "X....", "X....", ".XXX.", "....X", "....X", "XXXX."],
    "T": ["XXXXX", "..X..", "..X..", "..X..", "..X..", "..X..", "..X.."],
    "R": ["XXXX.", "X...X", "X...X", "XXXX.", "X.X..", "X..X.", "X...X"],
    "L": ["X....", "X....", "X....", "X....", "X....", "X....", "XXXXX"],
}

LETTER_SCALE = 4        # one glyph cell is 4 by 4 pixels
LETTER_GAP = 4          # pixels between letters
LETTERS_TOP = 124
MARK_CENTRE = (90, 62)
MARK_RADIUS = 50        # half diagonal of the lozenge
MARK_LINE = 4

# A kestrel seen from below: small head, pointed swept wings, long fanned tail.
BIRD = [(0, -24), (3, -22), (5, -17), (7, -12), (22, -10), (36, -2), (24, 0), (9, 3), (6, 10),
        (10, 27), (0, 25), (-10, 27), (-6, 10), (-9, 3), (-24, 0), (-36, -2), (-22, -10),
        (-7, -12), (-5, -17), (-3, -22)]


def in_letters(x, y):
    word = "KESTREL"
    width = len(word) * 5 * LETTER_SCALE + (len(word) - 1) * LETTER_GAP
    left = (180 - width) // 2
    if not LETTERS_TOP <= y < LETTERS_TOP + 7 * LETTER_SCALE:
        return False
    for i, letter in enumerate(word):
        x0 = left + i * (5 * LETTER_SCALE + LETTER_GAP)
        if x0 <= x < x0 + 5 * LETTER_SCALE:
            row = (y - LETTERS_TOP) // LETTER_SCALE
            column = (x - x0) // LETTER_SCALE
            return GLYPHS[letter][row][column] == "X"
    return False


def logo_pixel(x, y):
    if x < 3 or y < 3 or x > 176 or y > 176:
        return "d"
    if in_letters(x, y):
        # A cut-out: the paper behind, in shadow along its upper and left edges.
        shaded = not in_letters(x - 1, y) or not in_letters(x, y - 1)
        return "d" if shaded else "c"
    if in_letters(x, y - 1) or in_letters(x - 1, y):
        return "h"
    cx, cy = MARK_CENTRE
    lozenge = abs(x + 0.5 - cx) + abs(y + 0.5 - cy)
    if MARK_RADIUS - MARK_LINE <= lozenge <= MARK_RADIUS:
        return "w"
    if inside_polygon(x - cx, y - cy, BIRD):
        return "w"
    return "r"


def draw_logo():
    return ["".join(logo_pixel(x, y) for x in range(180)) for y in range(180)]


if __name__ == "__main__":
    icon = draw_icon()
    write_xpm(os.path.join(HERE, "kestrel_icon.xpm"), "kestrel_icon", icon, ICON_PALETTE)
    write_png(os.path.join(HERE, "kestrel_icon_32.png"),
              [[rgba(ICON_PALETTE[key]) for key in row] for row in icon])
    for size in SMOOTH_SIZES:
        write_png(os.path.join(HERE, f"kestrel_icon_{size}.png"), draw_large_icon(size))
    with open(os.path.join(HERE, "kestrel.svg"), "w", encoding="ascii") as out:
        out.write(svg_icon())
    write_xpm(os.path.join(HERE, "kestrel_logo.xpm"), "kestrel_logo", draw_logo(), LOGO_PALETTE)
