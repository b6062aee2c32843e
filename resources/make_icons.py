#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""Draws the program's picture and writes every file made from it.

The picture is a few simple shapes (a rounded square, a gate with an arch and an arrow leaving
through it), described once below as signed distance functions and rendered with antialiasing at
each size. Standard library only.

Writes, next to this script:
  main.png                  144 x 144, compiled into the program's resources
  icons/marrowgate-<N>.png  16 ... 256, for the hicolor icon theme
  main.ico                  16, 32, 48, 64 and 128 px, each stored as PNG (Windows icon)
  marrowgate.svg            the same shapes as a vector picture

Run: python3 resources/make_icons.py
"""

import math
import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))

# Colours.
TOP = (0x34, 0x98, 0xDB)      # #3498DB
BOTTOM = (0x2E, 0x86, 0xDE)   # #2E86DE
WHITE = (0xFF, 0xFF, 0xFF)

# Geometry, in units of the picture's side (0 = top/left, 1 = bottom/right).
LARGE = dict(
    margin=0.03,
    corner=0.21,
    gate_left=0.17, gate_right=0.63, gate_top=0.20, gate_bottom=0.80,
    wall=0.085,             # thickness of the gate's posts and arch
    gap=0.045,              # blue space kept around the arrow where it crosses the gate
    arrow_y=0.56, arrow_tail=0.33, arrow_tip=0.88,
    arrow_shaft=0.05,       # half the shaft's thickness
    arrow_head_half=0.135,  # half the head's height
    arrow_head_len=0.17,
    arrow_round=0.012,      # corner rounding of the arrow
    base_y=0.835, base_half=0.022, base_left=0.11, base_right=0.69,  # the threshold under the gate
)

# Below 40 px the same picture is laid out on a 16 x 16 grid, so that every stroke is whole pixels
# wide and sits on pixel boundaries; thin strokes would otherwise blur into the background.
SMALL = {key: value / 16 for key, value in dict(
    margin=0, corner=3.5,
    gate_left=2, gate_right=10, gate_top=2, gate_bottom=13,
    wall=2, gap=1,
    arrow_y=9, arrow_tail=5, arrow_tip=15,
    arrow_shaft=1, arrow_head_half=3.5, arrow_head_len=4, arrow_round=0,
    base_y=13.5, base_half=0.5, base_left=1, base_right=11,
).items()}


def geometry(size):
    return SMALL if size < 40 else LARGE


def rounded_box(px, py, cx, cy, hx, hy, r):
    qx = abs(px - cx) - hx + r
    qy = abs(py - cy) - hy + r
    outside = math.hypot(max(qx, 0.0), max(qy, 0.0))
    return outside + min(max(qx, qy), 0.0) - r


def arch(px, py, left, right, top, bottom):
    """A doorway: a rectangle closed at the top by a half circle."""
    cx = (left + right) / 2
    radius = (right - left) / 2
    spring = top + radius  # where the half circle meets the posts
    body = rounded_box(px, py, cx, (spring + bottom) / 2, radius, (bottom - spring) / 2, 0.0)
    return min(body, math.hypot(px - cx, py - spring) - radius)


def polygon(px, py, points):
    """Signed distance to a simple polygon (negative inside)."""
    dist = float("inf")
    inside = False
    n = len(points)
    for i in range(n):
        ax, ay = points[i]
        bx, by = points[(i + 1) % n]
        ex, ey = bx - ax, by - ay
        wx, wy = px - ax, py - ay
        t = max(0.0, min(1.0, (wx * ex + wy * ey) / (ex * ex + ey * ey)))
        dist = min(dist, math.hypot(wx - ex * t, wy - ey * t))
        if (ay > py) != (by > py) and px < ax + (py - ay) * ex / ey:
            inside = not inside
    return -dist if inside else dist


def arrow_points(g):
    s = g["arrow_round"]
    y, tail, tip = g["arrow_y"], g["arrow_tail"], g["arrow_tip"]
    shaft, head = g["arrow_shaft"], g["arrow_head_half"]
    neck = tip - g["arrow_head_len"]
    return [
        (tail + s, y - shaft + s),
        (neck + s, y - shaft + s),
        (neck + s, y - head + 2.2 * s),
        (tip - 2.2 * s, y),
        (neck + s, y + head - 2.2 * s),
        (neck + s, y + shaft - s),
        (tail + s, y + shaft - s),
    ]


def shapes(g, arrow_outline, px, py):
    """Distances to the background square and to the white foreground."""
    margin = g["margin"]
    background = rounded_box(px, py, 0.5, 0.5, 0.5 - margin, 0.5 - margin, g["corner"])
    left, right, top, bottom, wall = g["gate_left"], g["gate_right"], g["gate_top"], g["gate_bottom"], g["wall"]
    outer = arch(px, py, left, right, top, bottom)
    inner = arch(px, py, left + wall, right - wall, top + wall, bottom + 1.0)
    gate = max(outer, -inner)
    base_left, base_right, base_half = g["base_left"], g["base_right"], g["base_half"]
    base = rounded_box(px, py, (base_left + base_right) / 2, g["base_y"], (base_right - base_left) / 2,
                       base_half, base_half)
    arrow = polygon(px, py, arrow_outline) - g["arrow_round"]
    gate = max(min(gate, base), -(arrow - g["gap"]))
    return background, min(gate, arrow)


def coverage(distance, pixel):
    """Share of a pixel covered by a shape, from the distance to its edge at the pixel's centre."""
    return max(0.0, min(1.0, 0.5 - distance / pixel))


def render(size):
    pixel = 1.0 / size
    g = geometry(size)
    arrow_outline = arrow_points(g)
    rows = []
    for y in range(size):
        py = (y + 0.5) * pixel
        mix = y / max(1, size - 1)
        bg = tuple(TOP[i] + (BOTTOM[i] - TOP[i]) * mix for i in range(3))
        row = bytearray()
        for x in range(size):
            px = (x + 0.5) * pixel
            background, foreground = shapes(g, arrow_outline, px, py)
            alpha = coverage(background, pixel)
            white = coverage(foreground, pixel)
            colour = [bg[i] * (1 - white) + WHITE[i] * white for i in range(3)]
            row += bytes(int(round(c)) for c in colour) + bytes([int(round(alpha * 255))])
        rows.append(bytes(row))
    return rows


def png(width, rows, height=None):
    """An 8-bit RGBA PNG stream of the rows (square unless a height is given)."""
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    header = struct.pack(">IIBBBBB", width, width if height is None else height, 8, 6, 0, 0, 0)
    raw = b"".join(b"\x00" + row for row in rows)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(raw, 9))
            + chunk(b"IEND", b""))


def ico(images):
    """A Windows icon whose images are PNG streams (32-bit with alpha)."""
    directory = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    entries, data = b"", b""
    for size, stream in images:
        side = 0 if size >= 256 else size
        entries += struct.pack("<BBBBHHII", side, side, 0, 0, 1, 32, len(stream), offset + len(data))
        data += stream
    return directory + entries + data


def svg():
    """The large picture as SVG: the same shapes, for editing or rendering elsewhere."""
    g = LARGE

    def arch_path(left, right, top, bottom):
        radius = (right - left) / 2
        spring = top + radius
        return (f"M{left:.3f} {bottom:.3f} V{spring:.3f} A{radius:.3f} {radius:.3f} 0 0 1 {right:.3f} "
                f"{spring:.3f} V{bottom:.3f} Z")

    left, right, top, bottom, wall = g["gate_left"], g["gate_right"], g["gate_top"], g["gate_bottom"], g["wall"]
    points = arrow_points(g)
    arrow = " ".join(f"{'M' if i == 0 else 'L'}{x:.3f} {y:.3f}" for i, (x, y) in enumerate(points)) + " Z"
    side = 1 - 2 * g["margin"]
    base_half = g["base_half"]
    return f"""<svg xmlns="http://www.w3.org/2000/svg" width="256" height="256" viewBox="0 0 1 1">
  <defs>
    <linearGradient id="blue" x1="0" y1="0" x2="0" y2="1">
      <stop offset="0" stop-color="#3498DB"/>
      <stop offset="1" stop-color="#2E86DE"/>
    </linearGradient>
    <mask id="gap" maskUnits="userSpaceOnUse" x="0" y="0" width="1" height="1">
      <rect width="1" height="1" fill="#FFFFFF"/>
      <path d="{arrow}" fill="#000000" stroke="#000000" stroke-linejoin="round"
            stroke-width="{2 * (g["arrow_round"] + g["gap"]):.3f}"/>
    </mask>
    <clipPath id="door"><rect width="1" height="{bottom:.3f}"/></clipPath>
  </defs>
  <rect x="{g["margin"]:.3f}" y="{g["margin"]:.3f}" width="{side:.3f}" height="{side:.3f}" rx="{g["corner"]:.3f}"
        fill="url(#blue)"/>
  <g mask="url(#gap)" fill="#FFFFFF">
    <path clip-path="url(#door)" fill-rule="evenodd"
          d="{arch_path(left, right, top, bottom)}
             {arch_path(left + wall, right - wall, top + wall, bottom + 0.2)}"/>
    <rect x="{g["base_left"]:.3f}" y="{g["base_y"] - base_half:.3f}" width="{g["base_right"] - g["base_left"]:.3f}"
          height="{2 * base_half:.3f}" rx="{base_half:.3f}"/>
  </g>
  <path d="{arrow}" fill="#FFFFFF" stroke="#FFFFFF" stroke-linejoin="round"
        stroke-width="{2 * g["arrow_round"]:.3f}"/>
</svg>
"""


def write(path, data):
    with open(os.path.join(HERE, path), "wb") as out:
        out.write(data)


def main():
    os.makedirs(os.path.join(HERE, "icons"), exist_ok=True)
    streams = {}
    for size in (16, 32, 48, 64, 128, 144, 256):
        streams[size] = png(size, render(size))
    write("main.png", streams[144])
    for size in (16, 32, 48, 64, 128, 256):
        write(f"icons/marrowgate-{size}.png", streams[size])
    write("main.ico", ico([(size, streams[size]) for size in (16, 32, 48, 64, 128)]))
    write("marrowgate.svg", svg().encode("utf-8"))


if __name__ == "__main__":
    main()
