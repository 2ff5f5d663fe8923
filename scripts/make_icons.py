#!/usr/bin/env python3
"""Draws Quorvane's icons and writes them as .ico files into res/.

The picture: a blue disc with a white ring and a short handle, a magnifier
over an address list. Each file holds one 32-bit image with its AND mask.
Run it again after changing the drawing; the .ico files are committed.
"""
import math
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
RES = os.path.join(HERE, "..", "res")


def pixel(size, x, y):
    """RGBA of one pixel of the picture at the given size."""
    cx = cy = (size - 1) / 2.0
    u, v = (x - cx) / size, (y - cy) / size
    r = math.hypot(u, v)
    # handle: a bar towards the lower right
    hx, hy = u - 0.22, v - 0.22
    along = (hx + hy) / math.sqrt(2)
    across = (hx - hy) / math.sqrt(2)
    if 0 <= along <= 0.22 and abs(across) <= 0.06:
        return (40, 40, 48, 255)
    if r <= 0.30:
        return (245, 245, 250, 255) if r >= 0.22 else (36, 110, 200, 255)
    if r <= 0.47:
        return (28, 84, 160, 255) if r >= 0.42 else (60, 140, 225, 255)
    return (0, 0, 0, 0)


def ico(size):
    rows = []
    for y in range(size - 1, -1, -1):  # bottom-up, as BMP stores them
        row = b""
        for x in range(size):
            r, g, b, a = pixel(size, x, y)
            row += bytes((b, g, r, a))
        rows.append(row)
    xor = b"".join(rows)
    mask_stride = ((size + 31) // 32) * 4
    mask = b""
    for y in range(size - 1, -1, -1):
        row = bytearray(mask_stride)
        for x in range(size):
            if pixel(size, x, y)[3] == 0:
                row[x // 8] |= 0x80 >> (x % 8)
        mask += bytes(row)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0,
                         len(xor) + len(mask), 0, 0, 0, 0)
    image = header + xor + mask
    directory = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(image), 6 + 16)
    return directory + entry + image


def main():
    for name, size in (("app.ico", 32), ("window_small.ico", 16), ("window_big.ico", 32)):
        with open(os.path.join(RES, name), "wb") as f:
            f.write(ico(size))


if __name__ == "__main__":
    main()
