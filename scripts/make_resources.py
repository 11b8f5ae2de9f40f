#!/usr/bin/env python3
"""Draws the program's pictures and writes them as resource files (python3 standard library only).

res/brinq.ico     icon group: 48, 32 and 16 px as 32-bit DIBs, 256 px as PNG
res/buttons.bmp   sprite sheet of the title-bar buttons: 60 x 30, 8 bpp, 15 greys
res/emblem.txt    the about screen's 60 x 50 alpha picture, one hex nibble per pixel, top line first

Run from anywhere; then run scripts/encode_emblem.py to turn res/emblem.txt into the stored record.
"""
import math
import struct
import zlib
from pathlib import Path

RES = Path(__file__).resolve().parent.parent / "res"
SUPERSAMPLE = 4  # sub-pixels per axis for edge coverage


def coverage(size_x, size_y, inside, x, y):
    """Share of pixel (x, y) whose sub-pixel centres lie inside; coordinates in units of the picture."""
    hits = 0
    for sy in range(SUPERSAMPLE):
        for sx in range(SUPERSAMPLE):
            u = (x + (sx + 0.5) / SUPERSAMPLE) / size_x
            v = (y + (sy + 0.5) / SUPERSAMPLE) / size_y
            hits += inside(u, v)
    return hits / SUPERSAMPLE ** 2


# --- icon: a framed landscape (sky, two hills, sun), legible at 16 px on the dark title bar ---

def rounded_rect(x1, y1, x2, y2, r):
    def inside(u, v):
        if not (x1 <= u <= x2 and y1 <= v <= y2):
            return False
        cx = min(max(u, x1 + r), x2 - r)
        cy = min(max(v, y1 + r), y2 - r)
        return (u - cx) ** 2 + (v - cy) ** 2 <= r * r
    return inside


def triangle(a, b, c):
    def side(p, q, u, v):
        return (q[0] - p[0]) * (v - p[1]) - (q[1] - p[1]) * (u - p[0])
    def inside(u, v):
        s1, s2, s3 = side(a, b, u, v), side(b, c, u, v), side(c, a, u, v)
        return (s1 >= 0 and s2 >= 0 and s3 >= 0) or (s1 <= 0 and s2 <= 0 and s3 <= 0)
    return inside


def disc(cx, cy, r):
    return lambda u, v: (u - cx) ** 2 + (v - cy) ** 2 <= r * r


SKY = rounded_rect(0.14, 0.22, 0.86, 0.78, 0.03)


def in_sky(shape):
    return lambda u, v: shape(u, v) and SKY(u, v)


# Painted back to front: (shape, RGB); sun and hills stay inside the sky.
ICON_LAYERS = [
    (rounded_rect(0.04, 0.12, 0.96, 0.88, 0.10), (0xF2, 0xF2, 0xF2)),  # frame
    (SKY, (0x3C, 0x8D, 0xDE)),
    (in_sky(disc(0.67, 0.38, 0.09)), (0xFF, 0xCC, 0x33)),               # sun
    (in_sky(triangle((0.14, 0.78), (0.42, 0.40), (0.72, 0.78))), (0x2F, 0xA0, 0x46)),
    (in_sky(triangle((0.48, 0.78), (0.68, 0.52), (0.86, 0.78))), (0x1E, 0x6E, 0x30)),
]


def icon_pixels(size):
    """Rows top first of (r, g, b, a)."""
    rows = []
    for y in range(size):
        row = []
        for x in range(size):
            r = g = b = a = 0.0  # colour premultiplied by coverage
            for shape, colour in ICON_LAYERS:
                c = coverage(size, size, shape, x, y)
                r, g, b = (r * (1 - c) + colour[0] * c, g * (1 - c) + colour[1] * c, b * (1 - c) + colour[2] * c)
                a = a * (1 - c) + c
            row.append((round(r / a), round(g / a), round(b / a), round(a * 255)) if a > 0 else (0, 0, 0, 0))
        rows.append(row)
    return rows


def png_bytes(rows):
    size = len(rows)
    raw = b"".join(b"\0" + bytes(c for px in row for c in px) for row in rows)
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)  # 8-bit RGBA
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b"")


def dib_bytes(rows):
    size = len(rows)
    header = struct.pack("<IiiHHIIiiII", 40, size, 2 * size, 1, 32, 0, 0, 0, 0, 0, 0)
    colour = b"".join(bytes((b, g, r, a)) for row in reversed(rows) for (r, g, b, a) in row)
    mask_stride = (size + 31) // 32 * 4
    mask = bytearray()
    for row in reversed(rows):
        line = bytearray(mask_stride)
        for x, px in enumerate(row):
            if px[3] == 0:
                line[x // 8] |= 0x80 >> (x % 8)
        mask += line
    return header + colour + bytes(mask)


def write_icon():
    images = [(s, dib_bytes(icon_pixels(s))) for s in (48, 32, 16)] + [(256, png_bytes(icon_pixels(256)))]
    offset = 6 + 16 * len(images)
    directory = struct.pack("<HHH", 0, 1, len(images))
    for size, data in images:
        directory += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    (RES / "brinq.ico").write_bytes(directory + b"".join(d for _, d in images))


# --- sprite sheet: close, minimise and "ver" cells; normal row 0-13, pressed row 14-27 ---

GREYS = [0x00, 0x20, 0x30, 0x40, 0x50, 0x60, 0x70, 0x80, 0x98, 0xA8, 0xB8, 0xC4, 0xD0, 0xE0, 0xF0]
CELL_HEIGHT = 14
CELLS = [(0, 15), (15, 15), (30, 27)]  # x and width of each cell
NORMAL = {"border": 0x60, "corner": 0x40, "face": 0x50}
PRESSED = {"border": 0x30, "corner": 0x40, "face": 0x20}
GLYPH = {"#": 0xD0, "+": 0x98}  # glyph strokes; "+" softens the joins of the letters

CROSS = ["#.....#", ".#...#.", "..#.#..", "...#...", "..#.#..", ".#...#.", "#.....#"]
BAR = ["#######", "#######"]
VER = [
    "#...#..###..#.##",
    "#...#.#...#.##..",
    "+#.#+.#####.#...",
    ".#.#..#.....#...",
    "..#....###..#...",
]
GLYPHS = [(CROSS, 4, 3), (BAR, 4, 9), (VER, 5, 5)]  # picture, x and y inside its cell


def sprite_sheet():
    sheet = [[0x00] * 60 for _ in range(30)]
    for row_top, look in ((0, NORMAL), (CELL_HEIGHT, PRESSED)):
        for (cx, width), (picture, gx, gy) in zip(CELLS, GLYPHS):
            for y in range(CELL_HEIGHT):
                for x in range(width):
                    edge_x, edge_y = x in (0, width - 1), y in (0, CELL_HEIGHT - 1)
                    grey = look["corner"] if edge_x and edge_y else look["border"] if edge_x or edge_y else look["face"]
                    sheet[row_top + y][cx + x] = grey
            for y, line in enumerate(picture):
                for x, mark in enumerate(line):
                    if mark in GLYPH:
                        sheet[row_top + gy + y][cx + gx + x] = GLYPH[mark]
    return sheet


def write_sprite_sheet():
    sheet = sprite_sheet()
    palette = b"".join(bytes((g, g, g, 0)) for g in GREYS)
    pixels = b"".join(bytes(GREYS.index(g) for g in row) for row in reversed(sheet))  # 60 is a multiple of 4
    info = struct.pack("<IiiHHIIiiII", 40, 60, 30, 1, 8, 0, len(pixels), 2835, 2835, len(GREYS), len(GREYS))
    offset = 14 + len(info) + len(palette)
    header = b"BM" + struct.pack("<IHHI", offset + len(pixels), 0, 0, offset)
    (RES / "buttons.bmp").write_bytes(header + info + palette + pixels)


# --- the Emblem: a ring crossed by three brindle streaks, as 4-bit alpha ---

EMBLEM_W, EMBLEM_H = 60, 50


def emblem_inside(u, v):
    x, y = u * EMBLEM_W, v * EMBLEM_H
    d = math.hypot(x - 30, y - 25)
    if 19.5 <= d <= 23.5:
        return True
    if d > 16.5:
        return False
    # streaks: bands along the rising diagonal, bent a little like a coat's stripes
    t = (x - 30) * 0.8 - (y - 25) * 0.6 + 2.5 * math.sin((x + y) / 6)
    return any(abs(t - c) <= 2.4 for c in (-9, 0, 9))


def write_emblem():
    lines = []
    for y in range(EMBLEM_H):
        lines.append("".join("%X" % round(coverage(EMBLEM_W, EMBLEM_H, emblem_inside, x, y) * 15) for x in range(EMBLEM_W)))
    (RES / "emblem.txt").write_text("\n".join(lines) + "\n")


if __name__ == "__main__":
    write_icon()
    write_sprite_sheet()
    write_emblem()
