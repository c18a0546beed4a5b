#!/usr/bin/python3
"""Makes the end-to-end benchmark pictures from the bundled sample, into the folder given.

    /usr/bin/python3 bench/make_pictures.py [--with-checks] OUTDIR

Writes hopper-WxH-BITS.bmp for the sample's own size (512 x 600), 1920 x 1080 and 4000 x 3000,
each in 24 and 32 bits. Upscales are bicubic, so skin areas stay smooth and connected as in a
real photograph of that size. The 32-bit files are plain 40-byte-header BI_RGB pictures whose
fourth byte is 255. Existing files of the right size are kept, so a rerun costs nothing.
--with-checks adds small synthetic check-*.bmp pictures at the limits of the detection, on which
bench/check_opencv_face.sh compares bmpface with the OpenCV program. Prints every path written.
Needs Pillow (Debian's python3-pil).
"""
import os
import random
import sys

from PIL import Image, ImageDraw

SIZES = [None, (1920, 1080), (4000, 3000)]  # None: the sample's own size


SKIN, OTHER = (200, 150, 120), (60, 120, 90)  # RGB


def make_check_pictures(outdir):
    """Small synthetic pictures at the limits of the detection, for comparing two programs:
    regions that tie on score, touch at corners or sit exactly at the candidate test's bounds,
    colours on each side of every bound of the skin rule, and random blobs."""
    names = []

    def save(name, image):
        for suffix, mode in (("", "RGB"), ("-32", "RGBA")):
            path = os.path.join(outdir, "check-%s%s.bmp" % (name, suffix))
            image.convert(mode).save(path, format="BMP")
            names.append(path)

    def boxes(size, rectangles):
        image = Image.new("RGB", size, OTHER)
        draw = ImageDraw.Draw(image)
        for box in rectangles:
            draw.rectangle(box, fill=SKIN)
        return image

    # Equal scores side by side: the left square wins. Then first rows one apart.
    save("tie-side", boxes((200, 120), [[120, 20, 159, 59], [20, 20, 59, 59]]))
    save("near-tie", boxes((300, 300), [[200, 10, 239, 49], [10, 11, 49, 50]]))
    # A U whose right arm starts first in the scan, next to a square of nearly the same score.
    save("u-shape", boxes((160, 160), [[10, 30, 29, 100], [60, 10, 79, 100], [10, 90, 79, 100],
                                       [100, 20, 139, 59]]))
    # Squares touching only at a corner: two regions, not one 80 x 80 region.
    save("corner", boxes((200, 200), [[10, 10, 49, 49], [50, 50, 89, 89]]))
    # 29 and 30 wide; aspect 0.5 and just below; 90 % and 91 % of the width.
    save("width-29", boxes((100, 100), [[10, 10, 38, 49]]))
    save("width-30", boxes((100, 100), [[10, 10, 39, 49]]))
    save("aspect-30x60", boxes((200, 200), [[10, 10, 39, 69]]))
    save("aspect-30x61", boxes((200, 200), [[10, 10, 39, 70]]))
    save("wide-90", boxes((100, 200), [[5, 10, 94, 59]]))
    save("wide-91", boxes((100, 200), [[5, 10, 95, 59]]))
    # Centre on the 0.7 line: height 100 with centre rows 70 and 71, height 90 with 62 and 63.
    save("centre-100-70", boxes((100, 100), [[10, 55, 49, 85]]))
    save("centre-100-71", boxes((100, 100), [[10, 56, 49, 86]]))
    save("centre-90-62", boxes((100, 90), [[10, 47, 49, 77]]))
    save("centre-90-63", boxes((100, 90), [[10, 48, 49, 78]]))
    # Score decided by the rounding of the centre: the square's centre row is 29 (not 29.5), so
    # it scores 1368 and beats the slightly larger region beside it (centre row 30, 1364.25).
    image = boxes((200, 200), [[10, 10, 49, 49], [100, 10, 139, 50]])
    ImageDraw.Draw(image).line([102, 30, 136, 30], fill=OTHER)
    save("centre-rounding", image)
    # A 40 x 40 box holding 479 (fill below 0.3) and 480 (exactly 0.3) skin pixels.
    for count in (479, 480):
        image = boxes((100, 100), [[10, 10, 49, 10], [10, 10, 10, 49]])
        for i in range(count - 79):
            image.putpixel((11 + i % 39, 11 + i // 39), SKIN)
        save("fill-%d" % count, image)
    # Colours on each side of every bound of the skin rule, as (R, G, B): each forms a one-pixel
    # arm reaching 20 columns right of a skin square, and so widens the region only if skin.
    edges = [(96, 41, 21), (95, 41, 21), (96, 40, 21), (96, 41, 20), (96, 80, 21), (96, 81, 21),
             (200, 184, 199), (200, 185, 199), (200, 184, 200), (120, 100, 120), (150, 150, 30),
             (30, 150, 150), (128, 128, 128), (255, 239, 254), (255, 40, 0)]
    for colour in edges:
        image = boxes((120, 100), [[10, 10, 49, 49]])
        ImageDraw.Draw(image).line([50, 30, 69, 30], fill=colour)
        save("rule-%d-%d-%d" % colour, image)
    # Random blobs and speckle: many regions, some near every limit.
    for seed in range(6):
        rng = random.Random(seed)
        w, h = rng.choice([(320, 240), (641, 479), (90, 100)])
        image = Image.new("RGB", (w, h), OTHER)
        draw = ImageDraw.Draw(image)
        for _ in range(rng.randint(3, 40)):
            x, y = rng.randrange(w), rng.randrange(h)
            rx, ry = rng.randint(5, 60), rng.randint(5, 60)
            colour = (rng.randint(96, 255), rng.randint(41, 120), rng.randint(21, 90))
            shape = draw.ellipse if rng.random() < 0.5 else draw.rectangle
            shape([x - rx, y - ry, x + rx, y + ry], fill=colour)
        for _ in range(w * h // 20):
            image.putpixel((rng.randrange(w), rng.randrange(h)),
                           OTHER if rng.random() < 0.5 else SKIN)
        save("random-%d" % seed, image)
    return names


def main(argv):
    checks = "--with-checks" in argv[1:]
    rest = [a for a in argv[1:] if a != "--with-checks"]
    if len(rest) != 1 or rest[0].startswith("-"):
        sys.stderr.write("usage: make_pictures.py [--with-checks] OUTDIR\n")
        return 64
    outdir = rest[0]
    os.makedirs(outdir, exist_ok=True)
    here = os.path.dirname(os.path.abspath(__file__))
    sample = os.path.join(here, "..", "examples", "hopper.bmp")
    with Image.open(sample) as opened:
        source = opened.convert("RGB")
    for size in SIZES:
        picture = source if size is None else source.resize(size, Image.Resampling.BICUBIC)
        for bits, mode in ((24, "RGB"), (32, "RGBA")):
            name = "hopper-%dx%d-%d.bmp" % (picture.width, picture.height, bits)
            path = os.path.join(outdir, name)
            # Pillow writes 4 + 24 + 32 bits per pixel with the 40-byte header and BI_RGB.
            expected = 54 + ((picture.width * bits // 8 + 3) & ~3) * picture.height
            if os.path.exists(path) and os.path.getsize(path) == expected:
                print(path)
                continue
            converted = picture.convert(mode)
            converted.save(path + ".tmp", format="BMP")
            if os.path.getsize(path + ".tmp") != expected:
                os.remove(path + ".tmp")
                sys.stderr.write("make_pictures.py: %s has an unexpected layout\n" % name)
                return 1
            os.replace(path + ".tmp", path)
            print(path)
    if checks:
        for path in make_check_pictures(outdir):
            print(path)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
