#!/usr/bin/env python3
"""Draws the images of the change-history window as RGBA PNG files.

    scripts/draw_history_images.py [OUTPUT_FOLDER]

writes 16/N.png and 24/N.png (N = 0..4) below OUTPUT_FOLDER (default
app/images/history): 0 save, 1 clock, 2 undo, 3 redo, 4 delete. Each shape is
drawn at eight times the size and averaged down, so edges are smooth and the
files are the same on every run. Only the standard library is used.
"""

import math
import os
import struct
import sys
import zlib

SCALE = 8  # subsamples per pixel along each axis


def png_bytes(width, height, rgba):
    """rgba: list of rows, each a list of (r, g, b, a) bytes."""
    raw = bytearray()
    for row in rgba:
        raw.append(0)  # filter: none
        for px in row:
            raw.extend(px)

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    header = struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) +
            chunk(b"IDAT", zlib.compress(bytes(raw), 9)) + chunk(b"IEND", b""))


# ---- shapes in unit coordinates (0..1 across the image, y down) ------------

def in_polygon(x, y, pts):
    inside = False
    n = len(pts)
    for i in range(n):
        x1, y1 = pts[i]
        x2, y2 = pts[(i + 1) % n]
        if (y1 > y) != (y2 > y):
            cx = x1 + (y - y1) * (x2 - x1) / (y2 - y1)
            if x < cx:
                inside = not inside
    return inside


def rect(x0, y0, x1, y1):
    return lambda x, y: x0 <= x <= x1 and y0 <= y <= y1


def rounded_rect(x0, y0, x1, y1, r):
    def test(x, y):
        if not (x0 <= x <= x1 and y0 <= y <= y1):
            return False
        cx = min(max(x, x0 + r), x1 - r)
        cy = min(max(y, y0 + r), y1 - r)
        return (x - cx) ** 2 + (y - cy) ** 2 <= r * r
    return test


def polygon(pts):
    return lambda x, y: in_polygon(x, y, pts)


def disc(cx, cy, r):
    return lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def segment(ax, ay, bx, by, half_width):
    def test(x, y):
        dx, dy = bx - ax, by - ay
        t = max(0.0, min(1.0, ((x - ax) * dx + (y - ay) * dy) / (dx * dx + dy * dy)))
        px, py = ax + t * dx, ay + t * dy
        return (x - px) ** 2 + (y - py) ** 2 <= half_width ** 2
    return test


def arc(cx, cy, radius, half_width, start, end):
    """A band along a circle from angle start to end (degrees, counter-
    clockwise from the x axis, y pointing up as on paper)."""
    def test(x, y):
        d = math.hypot(x - cx, y - cy)
        if abs(d - radius) > half_width:
            return False
        a = math.degrees(math.atan2(cy - y, x - cx)) % 360
        lo, hi = start % 360, end % 360
        return lo <= a <= hi if lo <= hi else (a >= lo or a <= hi)
    return test


def mirrored(shape):
    return lambda x, y: shape(1.0 - x, y)


# ---- the five images: lists of (shape, colour) painted in order ------------

OUTLINE_BLUE = (28, 63, 122, 255)
BLUE = (66, 120, 196, 255)
LABEL = (248, 248, 244, 255)
SHUTTER = (190, 198, 210, 255)
GREEN = (46, 140, 60, 255)
DARK_GREEN = (24, 92, 36, 255)
RED = (200, 40, 36, 255)
DARK_RED = (130, 20, 18, 255)
FACE = (252, 250, 238, 255)
RIM = (120, 90, 40, 255)
HAND = (40, 40, 40, 255)


def save_image():
    body = [(0.08, 0.06), (0.80, 0.06), (0.94, 0.20), (0.94, 0.94), (0.08, 0.94)]
    inner = [(0.14, 0.12), (0.77, 0.12), (0.88, 0.23), (0.88, 0.88), (0.14, 0.88)]
    return [
        (polygon(body), OUTLINE_BLUE),
        (polygon(inner), BLUE),
        (rect(0.26, 0.12, 0.72, 0.40), SHUTTER),
        (rect(0.56, 0.16, 0.66, 0.36), OUTLINE_BLUE),
        (rect(0.22, 0.54, 0.80, 0.88), LABEL),
        (rect(0.30, 0.64, 0.72, 0.68), SHUTTER),
        (rect(0.30, 0.75, 0.72, 0.79), SHUTTER),
    ]


def clock_image():
    return [
        (disc(0.5, 0.5, 0.46), RIM),
        (disc(0.5, 0.5, 0.38), FACE),
        (segment(0.5, 0.5, 0.5, 0.20, 0.055), HAND),
        (segment(0.5, 0.5, 0.72, 0.60, 0.055), HAND),
        (disc(0.5, 0.5, 0.07), HAND),
    ]


def undo_shapes(colour, outline):
    # A band turning back from the right over the top, ending in a head that
    # points left: "go back".
    head = [(0.04, 0.42), (0.36, 0.14), (0.36, 0.70)]
    head_outline = [(-0.04, 0.42), (0.40, 0.04), (0.40, 0.80)]
    return [
        (arc(0.54, 0.64, 0.30, 0.13, -80, 150), outline),
        (polygon(head_outline), outline),
        (arc(0.54, 0.64, 0.30, 0.08, -75, 150), colour),
        (polygon(head), colour),
    ]


def undo_image():
    return undo_shapes(GREEN, DARK_GREEN)


def redo_image():
    return [(mirrored(shape), colour) for shape, colour in undo_shapes(GREEN, DARK_GREEN)]


def delete_image():
    return [
        (segment(0.16, 0.16, 0.84, 0.84, 0.15), DARK_RED),
        (segment(0.84, 0.16, 0.16, 0.84, 0.15), DARK_RED),
        (segment(0.16, 0.16, 0.84, 0.84, 0.10), RED),
        (segment(0.84, 0.16, 0.16, 0.84, 0.10), RED),
    ]


IMAGES = [save_image, clock_image, undo_image, redo_image, delete_image]


def render(shapes, size):
    rows = []
    n = size * SCALE
    for py in range(size):
        row = []
        for px in range(size):
            # Premultiplied sums over the subsamples.
            acc = [0.0, 0.0, 0.0, 0.0]
            for sy in range(SCALE):
                for sx in range(SCALE):
                    x = (px * SCALE + sx + 0.5) / n
                    y = (py * SCALE + sy + 0.5) / n
                    colour = None
                    for shape, c in shapes:
                        if shape(x, y):
                            colour = c
                    if colour:
                        a = colour[3] / 255.0
                        acc[0] += colour[0] * a
                        acc[1] += colour[1] * a
                        acc[2] += colour[2] * a
                        acc[3] += a
            count = SCALE * SCALE
            alpha = acc[3] / count
            if alpha <= 0:
                row.append((0, 0, 0, 0))
            else:
                row.append(tuple(int(round(acc[i] / acc[3])) for i in range(3)) + (int(round(alpha * 255)),))
        rows.append(row)
    return rows


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(
        os.path.dirname(os.path.abspath(__file__)), "..", "app", "images", "history")
    for size in (16, 24):
        folder = os.path.join(out, str(size))
        os.makedirs(folder, exist_ok=True)
        for index, draw in enumerate(IMAGES):
            with open(os.path.join(folder, "%d.png" % index), "wb") as f:
                f.write(png_bytes(size, size, render(draw(), size)))


if __name__ == "__main__":
    main()
