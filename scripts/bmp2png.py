#!/usr/bin/env python3
"""Converts a 24-bit bottom-up BMP (as vimbracli writes) to PNG, optionally scaled up.

Used to make the README's picture: scripts/bmp2png.py build/demo.bmp docs/demo.png 2
Standard library only.
"""
import struct
import sys
import zlib


def read_bmp(path):
    data = open(path, "rb").read()
    offset = struct.unpack_from("<I", data, 10)[0]
    width, height = struct.unpack_from("<ii", data, 18)
    stride = (3 * width + 3) // 4 * 4
    rows = []
    for y in range(height):  # the file stores the bottom row first
        start = offset + (height - 1 - y) * stride
        row = data[start:start + 3 * width]
        rows.append(bytes(b for x in range(width) for b in (row[3 * x + 2], row[3 * x + 1], row[3 * x])))
    return width, height, rows


def write_png(path, width, height, rows, scale):
    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))

    raw = bytearray()
    for row in rows:
        wide = bytes(b for x in range(width) for _ in range(scale) for b in row[3 * x:3 * x + 3])
        for _ in range(scale):
            raw += b"\x00" + wide
    header = struct.pack(">IIBBBBB", width * scale, height * scale, 8, 2, 0, 0, 0)
    png = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(bytes(raw), 9)) + chunk(b"IEND", b"")
    open(path, "wb").write(png)


if __name__ == "__main__":
    if len(sys.argv) not in (3, 4):
        sys.exit("usage: bmp2png.py IN.bmp OUT.png [SCALE]")
    w, h, pixel_rows = read_bmp(sys.argv[1])
    write_png(sys.argv[2], w, h, pixel_rows, int(sys.argv[3]) if len(sys.argv) == 4 else 1)
