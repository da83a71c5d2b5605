#!/usr/bin/env python3
"""Compares two 8-bit PNG images pixel by pixel.

    compare-images.py A.png B.png [--max-pixels N] [--max-difference D]

Prints the size, the number of pixels that differ and the largest difference
of one channel. Exits 0 when the images have the same size and at most N
pixels differ (default 0) by at most D (default 0) in every channel; 1
otherwise. Reads non-interlaced 8-bit grey, RGB and RGBA images, as kelmo
writes them, with the standard library only.
"""
import argparse
import struct
import sys
import zlib

CHANNELS = {0: 1, 2: 3, 6: 4}


def read_png(path):
    with open(path, "rb") as f:
        data = f.read()
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        raise ValueError(f"{path}: not a PNG file")
    pos, idat, header = 8, [], None
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat.append(body)
        elif kind == b"IEND":
            break
        pos += 12 + length
    width, height, depth, colour, _, _, interlace = header
    if depth != 8 or colour not in CHANNELS or interlace != 0:
        raise ValueError(f"{path}: only non-interlaced 8-bit grey, RGB and RGBA images")
    bpp = CHANNELS[colour]
    raw = zlib.decompress(b"".join(idat))
    stride = width * bpp
    rows, previous = [], bytearray(stride)
    for y in range(height):
        start = y * (stride + 1)
        kind, line = raw[start], bytearray(raw[start + 1:start + 1 + stride])
        for x in range(stride):
            a = line[x - bpp] if x >= bpp else 0
            b = previous[x]
            c = previous[x - bpp] if x >= bpp else 0
            if kind == 1:
                line[x] = (line[x] + a) & 255
            elif kind == 2:
                line[x] = (line[x] + b) & 255
            elif kind == 3:
                line[x] = (line[x] + (a + b) // 2) & 255
            elif kind == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[x] = (line[x] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        rows.append(bytes(line))
        previous = line
    return width, height, bpp, rows


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("a")
    parser.add_argument("b")
    parser.add_argument("--max-pixels", type=int, default=0)
    parser.add_argument("--max-difference", type=int, default=0)
    args = parser.parse_args()
    wa, ha, ca, ra = read_png(args.a)
    wb, hb, cb, rb = read_png(args.b)
    if (wa, ha, ca) != (wb, hb, cb):
        print(f"size differs: {wa}x{ha}x{ca} and {wb}x{hb}x{cb}")
        return 1
    pixels, largest = 0, 0
    for row_a, row_b in zip(ra, rb):
        if row_a == row_b:
            continue
        for x in range(wa):
            d = max(abs(row_a[x * ca + k] - row_b[x * ca + k]) for k in range(ca))
            if d:
                pixels += 1
                largest = max(largest, d)
    print(f"{wa}x{ha}: {pixels} pixels differ, by at most {largest}")
    return 0 if pixels <= args.max_pixels and largest <= args.max_difference else 1


if __name__ == "__main__":
    sys.exit(main())
