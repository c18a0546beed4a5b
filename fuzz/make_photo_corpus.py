"""Seeds for the photo fuzzer: small pictures in every format bmpface reads (several encodings of
each, with orientation tags, alpha, palettes, 16 bits, CMYK, a profile), BMPs of the depths the
library refuses, files of formats it must refuse, and the limits test's bombs.

  make_photo_corpus.py FOLDER
"""
import io
import os
import struct
import sys

from PIL import Image, ImageCms, ImageDraw

# The limits test's attacks: tiny files declaring gigapixels or hundreds of scans.
sys.dont_write_bytecode = True  # nothing written into the source tree
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests"))
from bombs import bombs  # noqa: E402


def face(size=(48, 40), mode="RGB"):
    image = Image.new("RGB", size, (40, 70, 90))
    ImageDraw.Draw(image).ellipse([8, 4, 30, 30], fill=(214, 160, 128))
    return image.convert(mode)


def exif(orientation):
    e = Image.Exif()
    e[274] = orientation
    return e.tobytes()


def encode(image, fmt, **options):
    out = io.BytesIO()
    image.save(out, format=fmt, **options)
    return out.getvalue()


def bmp(bits, compression, width, height, palette, data, masks=()):
    off = 54 + 4 * (len(masks) + len(palette))
    head = struct.pack("<2sIHHI", b"BM", off + len(data), 0, 0, off)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, bits, compression, len(data), 2835,
                       2835, len(palette), 0)
    return head + info + b"".join(struct.pack("<I", m) for m in masks) + \
        b"".join(struct.pack("<I", p) for p in palette) + data


def main():
    folder = sys.argv[1]
    os.makedirs(folder, exist_ok=True)
    profile = ImageCms.ImageCmsProfile(ImageCms.createProfile("sRGB")).tobytes()
    seeds = {
        "jpeg.jpg": encode(face(), "JPEG", quality=80),
        "jpeg-o6.jpg": encode(face(), "JPEG", quality=60, exif=exif(6)),
        "jpeg-progressive.jpg": encode(face(), "JPEG", progressive=True),
        "jpeg-grey.jpg": encode(face(mode="L"), "JPEG"),
        "jpeg-cmyk.jpg": encode(face(mode="CMYK"), "JPEG"),
        "jpeg-icc.jpg": encode(face(), "JPEG", icc_profile=profile),
        "png.png": encode(face(), "PNG"),
        "png-o3.png": encode(face(), "PNG", exif=exif(3)),
        "png-rgba.png": encode(face(mode="RGBA"), "PNG"),
        "png-palette.png": encode(face().quantize(16), "PNG"),
        "png-grey16.png": encode(face(mode="L").convert("I;16"), "PNG"),
        "png-optimized.png": encode(face(), "PNG", optimize=True),
        "webp-lossless.webp": encode(face(), "WEBP", lossless=True),
        "webp-lossy-o8.webp": encode(face(), "WEBP", quality=50, exif=exif(8)),
        "webp-alpha.webp": encode(face(mode="RGBA"), "WEBP"),
        "tiff.tif": encode(face(), "TIFF"),
        "tiff-deflate-o5.tif": encode(face(), "TIFF", compression="tiff_deflate",
                                      tiffinfo={274: 5}),
        "tiff-lzw-cmyk.tif": encode(face(mode="CMYK"), "TIFF", compression="tiff_lzw"),
        "gif.gif": encode(face(), "GIF"),
        "bmp-pal8.bmp": encode(face().quantize(256), "BMP"),
        "bmp-pal1.bmp": encode(face(mode="1"), "BMP"),
        "bmp-rle8.bmp": bmp(8, 1, 4, 2, [0, 0xFF0000, 0xD6A080],
                            bytes([2, 1, 0, 3, 2, 1, 2, 0, 0, 0, 4, 2, 0, 1])),
        "bmp-rle4.bmp": bmp(4, 2, 4, 1, [0, 0xFF0000], bytes([4, 0x10, 0, 1])),
        "bmp-565.bmp": bmp(16, 3, 2, 1, [], bytes([0xE0, 0x07, 0x00, 0xF8]),
                           (0xF800, 0x07E0, 0x001F)),
        "bmp-24.bmp": encode(face(), "BMP"),
        # Formats bmpface refuses, whatever libvips could do with them.
        "ppm.ppm": b"P6\n2 2\n255\n" + bytes(12),
        "svg.svg": b"<svg xmlns='http://www.w3.org/2000/svg' width='4' height='4'/>",
        "pdf.pdf": b"%PDF-1.4\n1 0 obj<<>>endobj\ntrailer<<>>\n%%EOF\n",
        "vips.v": b"\x08\xf2\xa6\xb6" + bytes(60),
    }
    seeds.update({"bomb-" + name: data for name, data in bombs().items()})
    for name, data in seeds.items():
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
