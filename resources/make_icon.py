#!/usr/bin/env python3
"""Builds the launcher's icon file from one square source picture.

    make_icon.py SOURCE.png OUTPUT.ico

The source is an 8-bit RGBA (or RGB) PNG at least 256 pixels square. Each of the six images
(256, 128, 64, 48, 32 and 16 pixels, 32 bits per pixel) is an area average of the source, taken
over premultiplied colours so that transparent pixels lend no colour to the edges. The 256-pixel
image is stored as PNG, as Windows expects; the others as 32-bit bitmaps with their AND mask.
Only the standard library is used and nothing depends on the clock, so the same source gives the
same bytes every time.
"""

from __future__ import annotations

import math
import struct
import sys
import zlib
from pathlib import Path

SIZES = (256, 128, 64, 48, 32, 16)
PNG_SIGNATURE = b"\x89PNG\r\n\x1a\n"

Image = tuple[int, int, list[bytearray]]  # width, height, rows of RGBA bytes


def read_png(path: Path) -> Image:
    data = path.read_bytes()
    if not data.startswith(PNG_SIGNATURE):
        raise ValueError(f"{path}: not a PNG file")
    pos = len(PNG_SIGNATURE)
    header = None
    compressed = bytearray()
    while pos < len(data):
        (length,) = struct.unpack(">I", data[pos:pos + 4])
        kind = data[pos + 4:pos + 8]
        body = data[pos + 8:pos + 8 + length]
        pos += 12 + length
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            compressed += body
        elif kind == b"IEND":
            break
    if header is None:
        raise ValueError(f"{path}: no IHDR chunk")
    width, height, depth, colour, _, _, interlace = header
    if depth != 8 or colour not in (2, 6) or interlace != 0:
        raise ValueError(f"{path}: only 8-bit RGB or RGBA PNGs without interlacing are read")
    channels = 4 if colour == 6 else 3
    stride = width * channels
    raw = zlib.decompress(bytes(compressed))
    rows: list[bytearray] = []
    previous = bytearray(stride)
    for y in range(height):
        start = y * (stride + 1)
        kind = raw[start]
        row = bytearray(raw[start + 1:start + 1 + stride])
        unfilter(kind, row, previous, channels)
        rows.append(row)
        previous = row
    if channels == 3:
        rows = [bytearray(b for i in range(0, stride, 3) for b in (*row[i:i + 3], 255)) for row in rows]
    return width, height, rows


def unfilter(kind: int, row: bytearray, previous: bytearray, bpp: int) -> None:
    if kind == 0:
        return
    for i in range(len(row)):
        left = row[i - bpp] if i >= bpp else 0
        up = previous[i]
        if kind == 1:
            row[i] = (row[i] + left) & 0xFF
        elif kind == 2:
            row[i] = (row[i] + up) & 0xFF
        elif kind == 3:
            row[i] = (row[i] + ((left + up) >> 1)) & 0xFF
        elif kind == 4:
            up_left = previous[i - bpp] if i >= bpp else 0
            p = left + up - up_left
            pa, pb, pc = abs(p - left), abs(p - up), abs(p - up_left)
            predictor = left if pa <= pb and pa <= pc else (up if pb <= pc else up_left)
            row[i] = (row[i] + predictor) & 0xFF
        else:
            raise ValueError(f"unknown PNG filter {kind}")


def coverage(source: int, target: int) -> list[list[tuple[int, float]]]:
    """For each target pixel, the source pixels it covers and the share of each."""
    scale = source / target
    spans = []
    for i in range(target):
        lo, hi = i * scale, (i + 1) * scale
        taps = []
        for s in range(int(lo), min(source, math.ceil(hi))):
            share = min(hi, s + 1) - max(lo, s)
            if share > 0:
                taps.append((s, share / scale))
        spans.append(taps)
    return spans


def resample(image: Image, size: int) -> list[bytearray]:
    width, height, rows = image
    across = coverage(width, size)
    down = coverage(height, size)
    # Premultiplied colour, horizontally first.
    narrow: list[list[float]] = []
    for row in rows:
        premultiplied = []
        for x in range(width):
            r, g, b, a = row[4 * x:4 * x + 4]
            premultiplied.append((r * a, g * a, b * a, a))
        out = []
        for taps in across:
            acc = [0.0, 0.0, 0.0, 0.0]
            for s, w in taps:
                p = premultiplied[s]
                acc[0] += p[0] * w
                acc[1] += p[1] * w
                acc[2] += p[2] * w
                acc[3] += p[3] * w
            out.extend(acc)
        narrow.append(out)
    result = []
    for taps in down:
        acc = [0.0] * (4 * size)
        for s, w in taps:
            source_row = narrow[s]
            for i in range(4 * size):
                acc[i] += source_row[i] * w
        row = bytearray()
        for x in range(size):
            r, g, b, a = acc[4 * x:4 * x + 4]
            if a < 0.5:
                row += b"\0\0\0\0"
                continue
            row += bytes((min(255, round(r / a)), min(255, round(g / a)), min(255, round(b / a)),
                          min(255, round(a))))
        result.append(row)
    return result


def png_bytes(rows: list[bytearray]) -> bytes:
    size = len(rows)

    def chunk(kind: bytes, body: bytes) -> bytes:
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))

    raw = b"".join(b"\0" + bytes(row) for row in rows)
    return (PNG_SIGNATURE + chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def dib_bytes(rows: list[bytearray]) -> bytes:
    """A 32-bit bitmap as icons hold it: doubled height, colour rows bottom-up, then the mask."""
    size = len(rows)
    mask_stride = ((size + 31) // 32) * 4
    colour = bytearray()
    mask = bytearray()
    for row in reversed(rows):
        bits = bytearray(mask_stride)
        for x in range(size):
            r, g, b, a = row[4 * x:4 * x + 4]
            colour += bytes((b, g, r, a))
            if a == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    header = struct.pack("<IiiHHIIiiII", 40, size, 2 * size, 1, 32, 0, len(colour) + len(mask), 0, 0, 0, 0)
    return header + bytes(colour) + bytes(mask)


def icon_bytes(images: list[tuple[int, bytes]]) -> bytes:
    directory = struct.pack("<HHH", 0, 1, len(images))
    offset = len(directory) + 16 * len(images)
    entries = b""
    for size, data in images:
        side = 0 if size == 256 else size  # a byte holds 1 to 255; 0 means 256
        entries += struct.pack("<BBBBHHII", side, side, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    return directory + entries + b"".join(data for _, data in images)


def main(argv: list[str]) -> int:
    if len(argv) != 3:
        print("usage: make_icon.py SOURCE.png OUTPUT.ico", file=sys.stderr)
        return 2
    source = read_png(Path(argv[1]))
    width, height, _ = source
    if width != height or width < max(SIZES):
        raise ValueError(f"{argv[1]}: the source must be square and at least {max(SIZES)} pixels")
    images = []
    for size in SIZES:
        rows = resample(source, size)
        images.append((size, png_bytes(rows) if size == 256 else dib_bytes(rows)))
    Path(argv[2]).write_bytes(icon_bytes(images))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
