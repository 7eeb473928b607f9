#!/usr/bin/env python3
"""Write the PNG icons of the example data directory.

Usage: make-icons.py [DATA_DIR]   (default: the "data" folder next to this script)

Only the standard library is used, so the icons can be rebuilt anywhere.
The output is deterministic: running it again gives the same bytes.
"""
import os
import struct
import sys
import zlib

SS = 4  # supersampling per axis, so curved edges get smooth (anti-aliased) alpha


def png_bytes(pixels):
    """Encode rows of (r, g, b, a) tuples as an 8-bit RGBA PNG."""
    h, w = len(pixels), len(pixels[0])

    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data
                + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))

    # Each scanline starts with filter type 0 (none); fine for tiny images.
    raw = b"".join(b"\0" + bytes(c for px in row for c in px) for row in pixels)
    return (b"\x89PNG\r\n\x1a\n"
            + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 6, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw, 9))
            + chunk(b"IEND", b""))


def render(size, layers):
    """Paint layers (colour, inside(x, y) predicate) bottom to top."""
    pixels = []
    for py in range(size):
        row = []
        for px in range(size):
            r = g = b = a = 0.0
            for colour, inside in layers:
                hits = sum(inside(px + (i + 0.5) / SS, py + (j + 0.5) / SS)
                           for i in range(SS) for j in range(SS))
                cov = hits / (SS * SS)
                if cov:
                    # "over" compositing with straight (non-premultiplied) alpha
                    na = cov + a * (1 - cov)
                    r, g, b = ((c * cov + o * a * (1 - cov)) / na
                               for c, o in zip(colour, (r, g, b)))
                    a = na
            row.append((round(r), round(g), round(b), round(a * 255)))
        pixels.append(row)
    return pixels


# --- shape predicates (coordinates in pixels, origin top-left) ---

def disc(cx, cy, rad):
    return lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 <= rad * rad


def ring(cx, cy, outer, inner):
    return lambda x, y: inner * inner <= (x - cx) ** 2 + (y - cy) ** 2 <= outer * outer


def rounded_square(x0, y0, x1, y1, rad):
    def inside(x, y):
        dx = max(x0 + rad - x, 0, x - (x1 - rad))
        dy = max(y0 + rad - y, 0, y - (y1 - rad))
        return dx * dx + dy * dy <= rad * rad
    return inside


def stroke(points, width):
    """A thick polyline, e.g. a check mark."""
    segs = list(zip(points, points[1:]))

    def inside(x, y):
        for (ax, ay), (bx, by) in segs:
            vx, vy = bx - ax, by - ay
            t = max(0, min(1, ((x - ax) * vx + (y - ay) * vy) / (vx * vx + vy * vy)))
            if (x - ax - t * vx) ** 2 + (y - ay - t * vy) ** 2 <= width * width / 4:
                return True
        return False
    return inside


def bitmap(rows, scale, left, top):
    """A glyph drawn from a tiny hand-made bitmap ('#' = ink)."""
    def inside(x, y):
        col, line = int((x - left) // scale), int((y - top) // scale)
        return (0 <= line < len(rows) and 0 <= col < len(rows[line])
                and rows[line][col] == "#")
    return inside


# --- status icons, 16x16 ---

GREY = (140, 140, 140)
STATUS_ICONS = {
    "installed": [((46, 160, 67), disc(8, 8, 7.5)),
                  ((255, 255, 255), stroke([(4.5, 8.5), (7, 11), (11.5, 5.5)], 2))],
    "uninstalled": [(GREY, ring(8, 8, 7.5, 5.5))],
    "none": [((200, 200, 200), disc(8, 8, 7.5)),
             ((120, 120, 120), stroke([(5, 8), (11, 8)], 2))],
}

# --- app icons, 24x24: coloured rounded square + 8x8 glyph drawn at 2x ---
# "notes" is left out on purpose: the example shows an app without an icon.

APP_ICONS = {
    "calculator": ((52, 73, 94), [
        "########", "#......#", "########", "........",
        "##.##.##", "........", "##.##.##", "........"]),
    "Text Editor": ((41, 128, 185), [
        "#######.", "........", "#####...", "........",
        "######..", "........", "####....", "........"]),
    "weather": ((243, 156, 18), [
        "...##...", ".#....#.", "..####..", "#.####.#",
        "#.####.#", "..####..", ".#....#.", "...##..."]),
    "chess": ((120, 81, 52), [
        "...##...", "..####..", "..####..", "...##...",
        "...##...", "..####..", ".######.", ".######."]),
    "music-player": ((155, 89, 182), [
        "...####.", "...#..#.", "...#..#.", "...#..#.",
        "...#..#.", ".###.##.", "####.##.", ".##....."]),
    "terminal": ((30, 30, 30), [
        "........", "#.......", ".#......", "..#.....",
        ".#......", "#.......", "...####.", "........"]),
}


def write(path, pixels):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(png_bytes(pixels))
    print(path)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    data = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "data")
    for status, layers in STATUS_ICONS.items():
        write(os.path.join(data, "icons", status + ".png"), render(16, layers))
    for app, (colour, glyph) in APP_ICONS.items():
        layers = [(colour, rounded_square(1, 1, 23, 23, 5)),
                  ((255, 255, 255), bitmap(glyph, 2, 4, 4))]
        write(os.path.join(data, "apps", app, "icon-24.png"), render(24, layers))


if __name__ == "__main__":
    main()
