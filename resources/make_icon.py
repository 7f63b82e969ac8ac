#!/usr/bin/env python3
"""Draw the NIRA Ostrel for Windows application icon and write it as a .ico file.

Usage: python3 make_icon.py OUTPUT.ico [--png-dir DIR]

Only the standard library is used so the build needs no extra packages.
"""

import argparse
import math
import os
import struct
import sys
import zlib

SIZES = (16, 24, 32, 48, 64, 256)
# Windows Vista and later read PNG entries; storing the largest image that
# way keeps the file small, while older loaders still find the DIB sizes.
PNG_SIZES = frozenset((256,))

TILE_TOP_LEFT = (48, 60, 108)
TILE_BOTTOM_RIGHT = (22, 29, 56)
FRAME_COLOUR = (255, 255, 255)
DOT_COLOUR = (230, 57, 70)

# Samples per axis, taken only on pixels an edge passes through.
SUPERSAMPLE = 8
# The distance fields below are exact, so a pixel whose centre is further
# than half its diagonal from an edge is entirely inside or outside.
EDGE_BAND = 0.75


def rrect_sdf(x, y, shape):
    """Signed distance to a rounded rectangle (negative inside)."""
    cx, cy, hx, hy, r = shape
    qx = abs(x - cx) - hx + r
    qy = abs(y - cy) - hy + r
    ox = qx if qx > 0.0 else 0.0
    oy = qy if qy > 0.0 else 0.0
    inner = qx if qx > qy else qy
    if inner > 0.0:
        inner = 0.0
    return math.hypot(ox, oy) + inner - r


_OFFSETS = tuple((k + 0.5) / SUPERSAMPLE for k in range(SUPERSAMPLE))
_SAMPLE_COUNT = float(SUPERSAMPLE * SUPERSAMPLE)


def coverage(px, py, shape):
    """Fraction of pixel (px, py) covered by shape."""
    d = rrect_sdf(px + 0.5, py + 0.5, shape)
    if d <= -EDGE_BAND:
        return 1.0
    if d >= EDGE_BAND:
        return 0.0
    hits = 0
    for oy in _OFFSETS:
        y = py + oy
        for ox in _OFFSETS:
            if rrect_sdf(px + ox, y, shape) < 0.0:
                hits += 1
    return hits / _SAMPLE_COUNT


def bbox(shape, size):
    cx, cy, hx, hy, _ = shape
    x0 = max(0, int(math.floor(cx - hx)) - 1)
    x1 = min(size, int(math.ceil(cx + hx)) + 1)
    y0 = max(0, int(math.floor(cy - hy)) - 1)
    y1 = min(size, int(math.ceil(cy + hy)) + 1)
    return x0, x1, y0, y1


def layout(n):
    """Geometry for an n x n icon, snapped so straight edges land on pixel
    boundaries and stay crisp at the small sizes."""
    c = n / 2.0
    margin = 0 if n < 32 else round(n / 32.0)
    half = c - margin
    tile = (c, c, half, half, 0.22 * 2.0 * half)

    frame_hw = round(n * 5.0 / 16.0)
    frame_hh = round(n * 4.0 / 16.0)
    stroke = max(1, round(n * 0.055))
    outer_r = n * 1.5 / 16.0
    outer = (c, c, frame_hw, frame_hh, outer_r)
    inner = (c, c, frame_hw - stroke, frame_hh - stroke, max(0.0, outer_r - stroke))

    # Keep at least a pixel of background between dot and frame so the
    # two do not merge into a blob at 16 px.
    dot_r = min(n * 0.13, frame_hh - stroke - 1.0)
    dot = (c, c, dot_r, dot_r, dot_r)
    return tile, outer, inner, dot


def render(n):
    """Return n*n*4 bytes of straight (non-premultiplied) RGBA, top row first."""
    tile, outer, inner, dot = layout(n)
    # Premultiplied accumulation makes layering a plain "over" blend.
    pr = [0.0] * (n * n)
    pg = [0.0] * (n * n)
    pb = [0.0] * (n * n)
    pa = [0.0] * (n * n)

    def over(idx, colour, a):
        k = 1.0 - a
        pr[idx] = colour[0] * a + pr[idx] * k
        pg[idx] = colour[1] * a + pg[idx] * k
        pb[idx] = colour[2] * a + pb[idx] * k
        pa[idx] = a + pa[idx] * k

    # Diagonal gradient: a touch of light from the top-left gives depth
    # without adding detail that would turn to mush at 16 px.
    tr0, tg0, tb0 = TILE_TOP_LEFT
    tr1, tg1, tb1 = TILE_BOTTOM_RIGHT
    span = 2.0 * n
    x0, x1, y0, y1 = bbox(tile, n)
    for y in range(y0, y1):
        row = y * n
        for x in range(x0, x1):
            a = coverage(x, y, tile)
            if a <= 0.0:
                continue
            t = (x + y + 1.0) / span
            col = (tr0 + (tr1 - tr0) * t, tg0 + (tg1 - tg0) * t, tb0 + (tb1 - tb0) * t)
            over(row + x, col, a)

    x0, x1, y0, y1 = bbox(outer, n)
    for y in range(y0, y1):
        row = y * n
        for x in range(x0, x1):
            # Inner lies wholly within outer, so the ring is the difference.
            a = coverage(x, y, outer) - coverage(x, y, inner)
            if a > 0.0:
                over(row + x, FRAME_COLOUR, a)

    x0, x1, y0, y1 = bbox(dot, n)
    for y in range(y0, y1):
        row = y * n
        for x in range(x0, x1):
            a = coverage(x, y, dot)
            if a > 0.0:
                over(row + x, DOT_COLOUR, a)

    out = bytearray(n * n * 4)
    for i in range(n * n):
        a8 = int(pa[i] * 255.0 + 0.5)
        if a8 <= 0:
            continue  # leave fully transparent pixels as zero bytes
        inv = 1.0 / pa[i]
        o = i * 4
        out[o] = min(255, int(pr[i] * inv + 0.5))
        out[o + 1] = min(255, int(pg[i] * inv + 0.5))
        out[o + 2] = min(255, int(pb[i] * inv + 0.5))
        out[o + 3] = min(255, a8)
    return bytes(out)


def png_chunk(tag, data):
    body = tag + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)


def encode_png(n, rgba):
    stride = n * 4
    # Filter type 0 on every row keeps the encoder trivial and the output
    # byte-for-byte reproducible.
    raw = b"".join(b"\x00" + rgba[y * stride:(y + 1) * stride] for y in range(n))
    ihdr = struct.pack(">IIBBBBB", n, n, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n"
            + png_chunk(b"IHDR", ihdr)
            + png_chunk(b"IDAT", zlib.compress(raw, 9))
            + png_chunk(b"IEND", b""))


def encode_dib(n, rgba):
    stride = n * 4
    xor_rows = []
    mask_stride = ((n + 31) // 32) * 4
    and_rows = []
    # Icon bitmaps are stored bottom row first.
    for y in range(n - 1, -1, -1):
        src = rgba[y * stride:(y + 1) * stride]
        row = bytearray(stride)
        row[0::4] = src[2::4]
        row[1::4] = src[1::4]
        row[2::4] = src[0::4]
        row[3::4] = src[3::4]
        xor_rows.append(bytes(row))

        mask = bytearray(mask_stride)
        # Legacy loaders that ignore alpha fall back to this mask, so mark
        # every fully transparent pixel.
        for x in range(n):
            if src[x * 4 + 3] == 0:
                mask[x >> 3] |= 0x80 >> (x & 7)
        and_rows.append(bytes(mask))
    xor = b"".join(xor_rows)
    and_mask = b"".join(and_rows)
    header = struct.pack("<IiiHHIIiiII",
                         40, n, 2 * n, 1, 32, 0,
                         len(xor) + len(and_mask), 0, 0, 0, 0)
    return header + xor + and_mask


def build_ico(images):
    """images: list of (size, payload bytes) in directory order."""
    count = len(images)
    offset = 6 + 16 * count
    directory = [struct.pack("<HHH", 0, 1, count)]
    for n, payload in images:
        dim = 0 if n >= 256 else n  # a zero byte stands for 256
        directory.append(struct.pack("<BBBBHHII", dim, dim, 0, 0, 1, 32,
                                     len(payload), offset))
        offset += len(payload)
    return b"".join(directory) + b"".join(p for _, p in images)


def write_atomic(path, data):
    tmp = path + ".tmp"
    with open(tmp, "wb") as f:
        f.write(data)
    # Readers never observe a half-written icon.
    os.replace(tmp, path)


def main(argv=None):
    parser = argparse.ArgumentParser(description="Generate the application icon.")
    parser.add_argument("output", help="path of the .ico file to write")
    parser.add_argument("--png-dir", help="also write each size as a PNG here")
    args = parser.parse_args(argv)

    images = []
    pngs = []
    for n in SIZES:
        rgba = render(n)
        png = encode_png(n, rgba)
        pngs.append((n, png))
        images.append((n, png if n in PNG_SIZES else encode_dib(n, rgba)))

    write_atomic(args.output, build_ico(images))

    if args.png_dir:
        os.makedirs(args.png_dir, exist_ok=True)
        for n, png in pngs:
            write_atomic(os.path.join(args.png_dir, "icon_%d.png" % n), png)
    return 0


if __name__ == "__main__":
    sys.exit(main())
