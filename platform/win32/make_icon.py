#!/usr/bin/env python3
"""Writes agesweep.ico, the program's icon: a clock face whose red sweep marks
the time gone by.

Five images, as the window system picks among them by size and colour depth:
16x16 with 16 colours; 32x32 with 2, 16 and 256 colours; 48x48 with 256
colours. Each is a classic palette bitmap with a transparency mask, so every
version of Windows can show it. Only the standard library is used.

  python3 platform/win32/make_icon.py [out.ico] [--preview out.png]
"""
import math
import os
import struct
import sys
import zlib

# The 16 colours of the standard VGA palette, in the order Windows uses.
VGA16 = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
MONO = [(0, 0, 0), (255, 255, 255)]


def palette256():
    colours = list(VGA16)
    levels = [0, 51, 102, 153, 204, 255]
    colours += [(r, g, b) for r in levels for g in levels for b in levels]
    colours += [(8 + 10 * i, 8 + 10 * i, 8 + 10 * i) for i in range(24)]
    return colours[:256]


RIM = (20, 40, 120)
FACE = (255, 250, 225)
SWEEP = (230, 70, 60)
HANDS = (20, 20, 20)


def segment_distance(px, py, ax, ay, bx, by):
    dx, dy = bx - ax, by - ay
    t = max(0.0, min(1.0, ((px - ax) * dx + (py - ay) * dy) / (dx * dx + dy * dy)))
    return math.hypot(px - (ax + t * dx), py - (ay + t * dy))


def artwork(x, y):
    """The colour at (x, y) of the unit square, or None where it is clear."""
    cx, cy = 0.5, 0.5
    r = math.hypot(x - cx, y - cy)
    if r > 0.48:
        return None
    if r > 0.39:
        return RIM
    # Hands: the minute hand at twelve, the hour hand at four.
    hour = math.radians(120)
    if (segment_distance(x, y, cx, cy, cx, cy - 0.32) < 0.035 or
            segment_distance(x, y, cx, cy, cx + 0.22 * math.sin(hour),
                             cy - 0.22 * math.cos(hour)) < 0.045 or r < 0.06):
        return HANDS
    # The sweep: from twelve clockwise to four, the time already gone.
    angle = math.degrees(math.atan2(x - cx, cy - y)) % 360
    if angle < 120 and r < 0.34:
        return SWEEP
    return FACE


def nearest(palette, colour):
    return min(range(len(palette)), key=lambda i: sum(
        (a - b) ** 2 for a, b in zip(palette[i], colour)))


def render(size, palette, samples=4):
    """Rows top-down of palette indexes, None for clear pixels."""
    cache = {}
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            colours = []
            for sy in range(samples):
                for sx in range(samples):
                    c = artwork((px + (sx + 0.5) / samples) / size,
                                (py + (sy + 0.5) / samples) / size)
                    if c is not None:
                        colours.append(c)
            if len(colours) * 2 < samples * samples:
                row.append(None)
                continue
            if palette is MONO:
                # Two colours: the light parts white, the dark parts black.
                lum = sum(0.3 * c[0] + 0.59 * c[1] + 0.11 * c[2]
                          for c in colours) / len(colours)
                row.append(1 if lum >= 140 else 0)
                continue
            mean = tuple(round(sum(c[k] for c in colours) / len(colours))
                         for k in range(3))
            if mean not in cache:
                cache[mean] = nearest(palette, mean)
            row.append(cache[mean])
        rows.append(row)
    return rows


def pack_rows(rows, bits):
    """Bottom-up rows of `bits`-wide values, each padded to 4 bytes."""
    out = b""
    for row in reversed(rows):
        value, count, data = 0, 0, bytearray()
        for v in row:
            value = (value << bits) | v
            count += bits
            if count == 8:
                data.append(value)
                value, count = 0, 0
        if count:
            data.append(value << (8 - count))
        while len(data) % 4:
            data.append(0)
        out += bytes(data)
    return out


def icon_image(size, bits, palette):
    rows = render(size, palette)
    colour_rows = [[0 if v is None else v for v in row] for row in rows]
    mask_rows = [[1 if v is None else 0 for v in row] for row in rows]
    xor = pack_rows(colour_rows, bits)
    mask = pack_rows(mask_rows, 1)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, bits, 0,
                         len(xor) + len(mask), 0, 0, len(palette), 0)
    colours = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in palette)
    return header + colours + xor + mask, rows


IMAGES = [(16, 4, VGA16), (32, 1, MONO), (32, 4, VGA16), (32, 8, None),
          (48, 8, None)]


def build():
    entries, blobs, previews = [], [], []
    for size, bits, palette in IMAGES:
        palette = palette or palette256()
        blob, rows = icon_image(size, bits, palette)
        entries.append((size, bits, len(palette)))
        blobs.append(blob)
        previews.append((rows, palette))
    offset = 6 + 16 * len(entries)
    data = struct.pack("<HHH", 0, 1, len(entries))
    for (size, bits, count), blob in zip(entries, blobs):
        data += struct.pack("<BBBBHHII", size % 256, size % 256,
                            count if count < 256 else 0, 0, 1, bits,
                            len(blob), offset)
        offset += len(blob)
    return data + b"".join(blobs), previews


def write_png(path, pixels):
    """pixels: rows of (r, g, b)."""
    raw = b"".join(b"\0" + bytes(c for p in row for c in p) for row in pixels)
    def chunk(kind, body):
        return (struct.pack(">I", len(body)) + kind + body +
                struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF))
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n")
        f.write(chunk(b"IHDR", struct.pack(">IIBBBBB", len(pixels[0]),
                                           len(pixels), 8, 2, 0, 0, 0)))
        f.write(chunk(b"IDAT", zlib.compress(raw)))
        f.write(chunk(b"IEND", b""))


def preview(path, previews, scale=4):
    """All five images side by side on grey, enlarged."""
    height = max(len(rows) for rows, _ in previews) * scale
    canvas = []
    for y in range(height):
        line = []
        for rows, palette in previews:
            for x in range(len(rows) * scale):
                v = rows[y // scale][x // scale] if y // scale < len(rows) else None
                line.append((160, 160, 160) if v is None else palette[v])
            line += [(160, 160, 160)] * 8
        canvas.append(line)
    write_png(path, canvas)


def main(argv):
    here = os.path.dirname(os.path.abspath(__file__))
    out = os.path.join(here, "agesweep.ico")
    preview_path = None
    args = list(argv)
    while args:
        a = args.pop(0)
        if a == "--preview":
            preview_path = args.pop(0)
        else:
            out = a
    data, previews = build()
    with open(out, "wb") as f:
        f.write(data)
    if preview_path:
        preview(preview_path, previews)


if __name__ == "__main__":
    main(sys.argv[1:])
