"""Small files that declare huge pictures or endless work: the attacks bmpface must refuse or bound.
Each is made here from a tiny real picture whose header is rewritten, so that nothing large is
kept in the repository. Used by the limits test and for the photo fuzzer's seeds.

  bombs() -> {name: bytes}           files of a few hundred bytes to a few kilobytes
"""
import io
import struct
import zlib

from PIL import Image

SIDE = 26000  # 676 MP: over any sensible pixel limit, and 2 GB of RGB pixels


def _small(fmt, **options):
    out = io.BytesIO()
    Image.new("RGB", (16, 16), (214, 160, 128)).save(out, format=fmt, **options)
    return bytearray(out.getvalue())


def _jpeg_with_size(width, height, progressive):
    data = _small("JPEG", quality=90, progressive=progressive)
    sof = b"\xff\xc2" if progressive else b"\xff\xc0"
    at = data.index(sof) + 5  # marker, length, precision
    data[at:at + 4] = struct.pack(">HH", height, width)
    return bytes(data)


def _many_scans(width, height, scans):
    """A progressive JPEG whose first scan is repeated `scans` times: what a hostile encoder's scan
    script makes the decoder go through, one pass over the picture each."""
    data = _jpeg_with_size(width, height, True)
    first = data.index(b"\xff\xda")
    second = data.index(b"\xff\xda", first + 2)
    head, scan, tail = data[:first], data[first:second], data[second:]
    return head + scan * scans + tail


def _png_chunk(kind, payload):
    return struct.pack(">I", len(payload)) + kind + payload + \
        struct.pack(">I", zlib.crc32(kind + payload) & 0xFFFFFFFF)


def _png(width, height, bit_depth, colour_type, rows):
    header = struct.pack(">IIBBBBB", width, height, bit_depth, colour_type, 0, 0, 0)
    return b"\x89PNG\r\n\x1a\n" + _png_chunk(b"IHDR", header) + \
        _png_chunk(b"IDAT", zlib.compress(rows, 9)) + _png_chunk(b"IEND", b"")


def _webp_lossless(width, height):
    data = _small("WEBP", lossless=True)
    at = data.index(b"VP8L") + 9  # chunk name, size, signature byte
    bits = struct.unpack("<I", data[at:at + 4])[0]
    bits = (bits & ~0x0FFFFFFF) | (width - 1) | (height - 1) << 14
    data[at:at + 4] = struct.pack("<I", bits)
    return bytes(data)


def _gif(width, height):
    data = _small("GIF")
    data[6:10] = struct.pack("<HH", width, height)
    at = data.index(b"\x2c")  # the image descriptor
    data[at + 5:at + 9] = struct.pack("<HH", width, height)
    return bytes(data)


def _bmp(bits, compression, width, height, data, palette=(0, 0xFFFFFF)):
    off = 54 + 4 * len(palette)
    head = struct.pack("<2sIHHI", b"BM", off + len(data), 0, 0, off)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, bits, compression, len(data), 2835,
                       2835, len(palette), 0)
    return head + info + b"".join(struct.pack("<I", p) for p in palette) + data


def bombs():
    return {
        "progressive.jpg": _jpeg_with_size(SIDE, SIDE, True),
        "baseline.jpg": _jpeg_with_size(SIDE, SIDE, False),
        # Legal size, hostile work: 883 scans of an 8000 x 8000 picture.
        "scans.jpg": _many_scans(8000, 8000, 883),
        "one-bit.png": _png(SIDE, SIDE, 1, 0, b"\x00" * 4096),
        "lossless.webp": _webp_lossless(16383, 16383),
        "screen.gif": _gif(65535, 65535),
        # Run-length, 4 bits: the end of the picture at once.
        "rle4.bmp": _bmp(4, 2, SIDE, SIDE, b"\x00\x01"),
        "rle8.bmp": _bmp(8, 1, SIDE, SIDE, b"\x00\x01"),
        # The library's own depth, rows "there" as a sparse file would hold them: the header alone.
        "deep.bmp": _bmp(24, 0, SIDE, SIDE, b"", palette=()),
    }
