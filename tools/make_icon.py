#!/usr/bin/env python3
"""Draws the 澜岫 mark and writes the application icon and the header logo.

The mark is a rounded blue tile with two mountain peaks rising from a wave line
and a second wave below. It is described as vector shapes in a unit square and
rasterised at each icon size from signed distances, so every size gets
anti-aliased edges of its own instead of a scaled-down bitmap. Colours are
mixed in linear light, which keeps thin white strokes from looking starved at
16 pixels. Small sizes drop the lower wave and the shaded face and draw the strokes
thicker.

Output, byte for byte the same on every run with the same zlib:
  <out>/quorvane.ico  nine PNG images, 16 to 256 pixels
  <out>/logo.png      the 128-pixel image, identical to the icon's
Standard library only (zlib and struct).
"""

import math
import os
import struct
import sys
import zlib

ICON_SIZES = (16, 20, 24, 32, 40, 48, 64, 128, 256)
LOGO_SIZE = 128

TILE_TOP = (0x3B, 0x82, 0xF6)     # accent blue, light end
TILE_BOTTOM = (0x1E, 0x40, 0xAF)  # accent blue, deep end
WATER = (0x1D, 0x4E, 0xD8)
FAR_PEAK = (0x93, 0xC5, 0xFD)
NEAR_PEAK = (0xFF, 0xFF, 0xFF)
NEAR_PEAK_SHADE = (0xDB, 0xEA, 0xFE)
CREST = (0xFF, 0xFF, 0xFF)
LOW_WAVE = (0x93, 0xC5, 0xFD)

TILE_RADIUS = 0.22
FAR_PEAK_SHAPE = ((0.47, 0.74), (0.69, 0.36), (0.91, 0.74))
NEAR_PEAK_SHAPE = ((0.10, 0.74), (0.40, 0.20), (0.70, 0.74))
NEAR_PEAK_SHADE_SHAPE = ((0.40, 0.20), (0.70, 0.74), (0.47, 0.74))  # the face turned from the light
PEAK_ROUNDING = 0.025


def srgb_to_linear(channel):
    c = channel / 255.0
    return c / 12.92 if c <= 0.04045 else ((c + 0.055) / 1.055) ** 2.4


def linear_to_srgb(value):
    value = min(max(value, 0.0), 1.0)
    c = value * 12.92 if value <= 0.0031308 else 1.055 * value ** (1 / 2.4) - 0.055
    return int(round(c * 255.0))


def linear(colour):
    return tuple(srgb_to_linear(c) for c in colour)


def rounded_square_distance(x, y, inset, radius):
    """Signed distance to a square of [inset, 1 - inset]^2 with round corners."""
    half = 0.5 - inset
    qx = abs(x - 0.5) - (half - radius)
    qy = abs(y - 0.5) - (half - radius)
    outside = math.hypot(max(qx, 0.0), max(qy, 0.0))
    return outside + min(max(qx, qy), 0.0) - radius


def polygon_distance(x, y, points):
    """Exact signed distance to a simple polygon (negative inside)."""
    best = float("inf")
    sign = 1.0
    count = len(points)
    for i in range(count):
        ax, ay = points[i]
        bx, by = points[i - 1]
        ex, ey = bx - ax, by - ay
        wx, wy = x - ax, y - ay
        t = min(max((wx * ex + wy * ey) / (ex * ex + ey * ey), 0.0), 1.0)
        dx, dy = wx - ex * t, wy - ey * t
        best = min(best, dx * dx + dy * dy)
        above = y >= ay, y < by, ex * wy > ey * wx
        if all(above) or not any(above):
            sign = -sign
    return sign * math.sqrt(best)


def wave(x, base, amplitude, phase):
    """Height of a wave line and its slope at x."""
    k = 2.0 * math.pi * 1.25
    return base + amplitude * math.sin(k * x + phase), amplitude * k * math.cos(k * x + phase)


def wave_distance(x, y, base, amplitude, phase):
    """Signed distance to the wave line, negative below it (first order)."""
    height, slope = wave(x, base, amplitude, phase)
    return (height - y) / math.sqrt(1.0 + slope * slope)


def coverage(distance, size):
    """Area of a pixel covered by the shape, from the distance at its centre."""
    return min(max(0.5 - distance * size, 0.0), 1.0)


def mix(under, over, amount):
    return tuple(u + (o - u) * amount for u, o in zip(under, over))


def render(size):
    """RGBA rows of the mark at one size, straight alpha."""
    small = size <= 24
    inset = 0.0 if size <= 20 else 1.0 / 32
    crest_width = max(0.075, 1.5 / size) if small else 0.06
    tile_top, tile_bottom = linear(TILE_TOP), linear(TILE_BOTTOM)
    water, far_peak, near_peak = linear(WATER), linear(FAR_PEAK), linear(NEAR_PEAK)
    near_peak_shade = linear(NEAR_PEAK_SHADE)
    crest, low_wave = linear(CREST), linear(LOW_WAVE)
    crest_line = (0.70, 0.035, 0.6)
    low_line = (0.84, 0.03, 2.2)

    rows = []
    for row in range(size):
        y = (row + 0.5) / size
        line = bytearray()
        for column in range(size):
            x = (column + 0.5) / size
            alpha = coverage(rounded_square_distance(x, y, inset, TILE_RADIUS), size)
            if alpha <= 0.0:
                line += b"\0\0\0\0"
                continue
            colour = mix(tile_top, tile_bottom, min(max((x + 2.0 * y) / 3.0, 0.0), 1.0))
            colour = mix(colour, far_peak,
                         coverage(polygon_distance(x, y, FAR_PEAK_SHAPE) - PEAK_ROUNDING, size))
            colour = mix(colour, near_peak,
                         coverage(polygon_distance(x, y, NEAR_PEAK_SHAPE) - PEAK_ROUNDING, size))
            if not small:
                shade = max(polygon_distance(x, y, NEAR_PEAK_SHADE_SHAPE),
                            polygon_distance(x, y, NEAR_PEAK_SHAPE) - PEAK_ROUNDING)
                colour = mix(colour, near_peak_shade, coverage(shade, size))
            below_crest = wave_distance(x, y, *crest_line)
            colour = mix(colour, water, coverage(below_crest, size))
            colour = mix(colour, crest, coverage(abs(below_crest) - crest_width / 2.0, size))
            if not small:
                colour = mix(colour, low_wave,
                             coverage(abs(wave_distance(x, y, *low_line)) - 0.025, size))
            line += bytes(linear_to_srgb(c) for c in colour) + bytes((int(round(alpha * 255.0)),))
        rows.append(bytes(line))
    return rows


def paeth_filtered(rows):
    """Every row with PNG filter 4 (Paeth), which suits the tile's gradient."""
    out = bytearray()
    previous = bytes(len(rows[0]))
    for row in rows:
        out.append(4)
        for i, value in enumerate(row):
            a = row[i - 4] if i >= 4 else 0
            b = previous[i]
            c = previous[i - 4] if i >= 4 else 0
            p = a + b - c
            pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
            predictor = a if pa <= pb and pa <= pc else (b if pb <= pc else c)
            out.append((value - predictor) & 0xFF)
        previous = row
    return bytes(out)


def png(rows):
    size = len(rows)

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)  # 8-bit RGBA
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header)
            + chunk(b"IDAT", zlib.compress(paeth_filtered(rows), 9)) + chunk(b"IEND", b""))


def ico(images):
    """An icon file whose images are stored as PNG, as Windows Vista and later read them."""
    directory = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    data = b""
    for size, image in images:
        side = 0 if size >= 256 else size  # 0 stands for 256
        directory += struct.pack("<BBBBHHII", side, side, 0, 0, 1, 32, len(image), offset)
        offset += len(image)
        data += image
    return directory + data


def main(arguments):
    if len(arguments) != 2:
        sys.stderr.write("usage: make_icon.py OUTPUT_FOLDER\n")
        return 2
    folder = arguments[1]
    os.makedirs(folder, exist_ok=True)
    images = [(size, png(render(size))) for size in ICON_SIZES]
    with open(os.path.join(folder, "quorvane.ico"), "wb") as out:
        out.write(ico(images))
    with open(os.path.join(folder, "logo.png"), "wb") as out:
        out.write(dict(images)[LOGO_SIZE])
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
