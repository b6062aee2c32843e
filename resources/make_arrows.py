#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""Draws the down arrow of the theme selector, one picture per colour it is shown in.

A triangle 10 px wide and 6 px high, pointing down, antialiased, on a transparent ground; each
picture also at twice the size for screens with a scale factor of 2. Standard library only.

Writes, next to this script: arrows/down-<RRGGBB>.png and arrows/down-<RRGGBB>@2x.png

Run: python3 resources/make_arrows.py
"""

import os

from make_icons import png

HERE = os.path.dirname(os.path.abspath(__file__))

# The text colour and the hover colour of the light and the dark theme.
COLOURS = ("2C3E50", "3498DB", "E8EAF0", "5B8DEE")
WIDTH, HEIGHT = 10, 6
SAMPLES = 8  # per pixel side


def inside(x, y):
    """True when the point lies in the triangle (0, 0), (WIDTH, 0), (WIDTH / 2, HEIGHT)."""
    half = WIDTH / 2
    return 0 <= y <= HEIGHT and abs(x - half) <= half * (1 - y / HEIGHT)


def render(colour, scale):
    rgb = bytes.fromhex(colour)
    rows = []
    for py in range(HEIGHT * scale):
        row = bytearray()
        for px in range(WIDTH * scale):
            hits = sum(inside((px + (i + 0.5) / SAMPLES) / scale, (py + (j + 0.5) / SAMPLES) / scale)
                       for i in range(SAMPLES) for j in range(SAMPLES))
            row += rgb + bytes([round(255 * hits / SAMPLES ** 2)])
        rows.append(bytes(row))
    return rows


def main():
    os.makedirs(os.path.join(HERE, "arrows"), exist_ok=True)
    for colour in COLOURS:
        for scale, suffix in ((1, ""), (2, "@2x")):
            path = os.path.join(HERE, "arrows", f"down-{colour}{suffix}.png")
            with open(path, "wb") as out:
                out.write(png(WIDTH * scale, render(colour, scale), HEIGHT * scale))


if __name__ == "__main__":
    main()
