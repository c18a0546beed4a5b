#!/usr/bin/python3
"""Makes the pictures of bench/shapes.sh into the folder given, each unless it is already there:

    /usr/bin/python3 bench/make_shapes.py OUTDIR

- strips-WxH.bmp (4000 x 3000, 8000 x 6000; 24-bit): skin in strips three pixels wide, one pixel
  apart, joined end to end (alternately at the bottom and the top row) into one long region;
- tall-1x10000000.bmp: 24-bit, 1 pixel wide and 10,000,000 tall, a sparse file of zero pixels;
- photo-WxH.bmp: the sample picture scaled to 4000 x 3000, 8000 x 6000 and 4000 x 2500 (the pixel
  counts of the shapes above), bicubic, as bench/make_pictures.py makes its pictures.

Prints every path. Needs Pillow (Debian's python3-pil) for the photographs only.
"""
import os
import struct
import sys

SKIN = bytes((60, 90, 200))    # blue, green, red: skin by the rule
OTHER = bytes((90, 120, 60))   # never skin


def header(width, height, bits=24):
    stride = (width * bits // 8 + 3) & ~3
    size = 54 + stride * height
    return struct.pack("<2sIHHIIiiHHIIiiII", b"BM", size, 0, 0, 54, 40, width, height, 1, bits,
                       0, stride * height, 2835, 2835, 0, 0), stride, size


def write_strips(path, width, height):
    head, stride, size = header(width, height)
    assert stride == width * 3
    middle = b"".join(OTHER if x % 4 == 3 else SKIN for x in range(width))

    def joined(even):  # the end row where the gaps after even (or odd) strips are bridged
        return b"".join(SKIN if x % 4 != 3 or ((x // 4) % 2 == 0) == even else OTHER
                        for x in range(width))

    with open(path + ".tmp", "wb") as f:
        f.write(head)
        f.write(joined(True))  # the file's first row is the picture's bottom row
        for _ in range(height - 2):
            f.write(middle)
        f.write(joined(False))
    os.replace(path + ".tmp", path)


def write_sparse(path, width, height):
    head, _, size = header(width, height)
    with open(path + ".tmp", "wb") as f:
        f.write(head)
        f.truncate(size)
    os.replace(path + ".tmp", path)


def write_photo(path, width, height):
    from PIL import Image
    here = os.path.dirname(os.path.abspath(__file__))
    with Image.open(os.path.join(here, "..", "examples", "hopper.bmp")) as opened:
        picture = opened.convert("RGB").resize((width, height), Image.Resampling.BICUBIC)
    picture.save(path + ".tmp", format="BMP")
    os.replace(path + ".tmp", path)


def main(argv):
    if len(argv) != 2 or argv[1].startswith("-"):
        sys.stderr.write("usage: make_shapes.py OUTDIR\n")
        return 64
    outdir = argv[1]
    os.makedirs(outdir, exist_ok=True)
    todo = [("strips-4000x3000.bmp", write_strips, 4000, 3000),
            ("strips-8000x6000.bmp", write_strips, 8000, 6000),
            ("tall-1x10000000.bmp", write_sparse, 1, 10000000),
            ("photo-4000x3000.bmp", write_photo, 4000, 3000),
            ("photo-8000x6000.bmp", write_photo, 8000, 6000),
            ("photo-4000x2500.bmp", write_photo, 4000, 2500)]
    for name, write, width, height in todo:
        path = os.path.join(outdir, name)
        if not (os.path.exists(path) and os.path.getsize(path) == header(width, height)[2]):
            write(path, width, height)
        print(path)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
