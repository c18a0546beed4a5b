#!/usr/bin/env python3
"""Writes the fuzzer's seed corpus: small valid BMP pictures and near misses of each refusal."""
import os
import struct
import sys

SKIN = bytes((60, 90, 200))
BACKGROUND = bytes((0, 0, 0))


def bmp(width, height, bits=24, top_down=False, gap=0, off_bits=None, skin_box=None,
        bit_count=None, info_size=40, compression=0):
    bpp = bits // 8
    stride = (bits * width + 31) // 32 * 4
    rows = []
    for y in range(height):
        row = bytearray()
        for x in range(width):
            inside = (skin_box and skin_box[0] <= x <= skin_box[2]
                      and skin_box[1] <= y <= skin_box[3])
            row += (SKIN if inside else BACKGROUND) + (bytes((x & 0xFF,)) if bpp == 4 else b"")
        row += bytes(stride - len(row))
        rows.append(bytes(row))
    pixels = b"".join(rows if top_down else reversed(rows))
    offset = 14 + 40 + gap if off_bits is None else off_bits
    header = struct.pack("<2sIHHI", b"BM", offset + len(pixels), 0, 0, offset)
    header += struct.pack("<IiiHHIIiiII", info_size, width, -height if top_down else height, 1,
                          bit_count or bits, compression, len(pixels), 2835, 2835, 0, 0)
    return header + bytes(gap) + pixels


def seeds():
    face = (4, 4, 35, 35)
    yield "face24", bmp(40, 40, skin_box=face)
    yield "face32", bmp(40, 40, 32, skin_box=face)
    yield "face24-topdown", bmp(40, 40, top_down=True, skin_box=face)
    yield "face24-gap", bmp(40, 40, gap=70, skin_box=face)
    yield "face32-v5", bmp(40, 40, 32, gap=84, info_size=124, compression=3, skin_box=face)
    yield "odd-width", bmp(37, 33, skin_box=(1, 1, 34, 31))
    yield "low-offset", bmp(40, 40, off_bits=20, skin_box=face)
    for width in (1, 2, 3, 5):
        yield f"width{width}", bmp(width, 3)
    good = bmp(8, 8)
    yield "short-header", good[:40]
    yield "short-pixels", good[:-5]
    yield "depth8", bmp(8, 8, bit_count=8)
    yield "no-magic", b"MB" + good[2:]
    patch = lambda at, fmt, value: (good[:at] + struct.pack(fmt, value)
                                    + good[at + struct.calcsize(fmt):])
    yield "zero-height", patch(22, "<i", 0)
    yield "min-height", patch(22, "<i", -2**31)
    yield "negative-width", patch(18, "<i", -8)
    yield "huge", patch(18, "<i", 2**30)
    yield "offset-past-end", patch(10, "<I", 0xFFFFFFF0)


def main():
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    for name, data in seeds():
        with open(os.path.join(out, name + ".bmp"), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
