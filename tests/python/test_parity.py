"""The same rectangle from the command and from Python on every picture of a photo set: each
format x orientation as a path, as bytes, as BytesIO and as the Pillow image opened from it;
Pillow images of every mode the package converts, next to the command on a file of that mode;
framing. BMPFACE_COMMAND names the command; without it these tests are skipped."""
import io
import json
import os
import pathlib
import subprocess

import numpy as np
import pytest

import bmpface

ROOT = pathlib.Path(__file__).resolve().parents[2]
SAMPLE = ROOT / "examples" / "hopper.bmp"
COMMAND = os.environ.get("BMPFACE_COMMAND")
Image = pytest.importorskip("PIL.Image")
pytestmark = [
    pytest.mark.skipif(not COMMAND, reason="BMPFACE_COMMAND names no command"),
    pytest.mark.skipif(not bmpface._bmpface.HAVE_VIPS, reason="built without libvips"),
]

# Pillow's transposition that makes the stored picture from the upright one, by orientation.
STORED = {1: None, 2: Image.FLIP_LEFT_RIGHT, 3: Image.ROTATE_180, 4: Image.FLIP_TOP_BOTTOM,
          5: Image.TRANSPOSE, 6: Image.ROTATE_90, 7: Image.TRANSVERSE, 8: Image.ROTATE_270}
FORMATS = {".jpg": "JPEG", ".png": "PNG", ".webp": "WEBP", ".tif": "TIFF"}


def command_rect(picture, *options):
    done = subprocess.run([COMMAND, "--detect", *options, str(picture)], capture_output=True,
                          text=True, timeout=60)
    words = done.stdout.strip().rsplit(": ", 1)[-1].split()
    if done.returncode == 2:
        return None  # no face
    return bmpface.Rect(*map(int, words)) if done.returncode == 0 else words


def photo_set(folder):
    """(name, path): the sample in every format and orientation, and as a GIF and 8-bit BMP."""
    with Image.open(SAMPLE) as opened:
        upright = opened.convert("RGB")
    made = []
    for suffix, kind in FORMATS.items():
        for orientation, turn in STORED.items():
            stored = upright if turn is None else upright.transpose(turn)
            exif = Image.Exif()
            exif[0x0112] = orientation
            options = {"tiffinfo": {0x0112: orientation}} if kind == "TIFF" else {
                "exif": exif.tobytes()}
            name = folder / ("o%d%s" % (orientation, suffix))
            stored.save(name, kind, **options)
            made.append(name)
    upright.convert("P").save(folder / "palette.gif")
    upright.convert("P").save(folder / "palette.bmp")
    return made + [folder / "palette.gif", folder / "palette.bmp"]


@pytest.fixture(scope="module")
def photos(tmp_path_factory):
    return photo_set(tmp_path_factory.mktemp("photos"))


def test_every_format_and_orientation_in_every_form(photos):
    """Paths, contents and open files go through the photo layer as the command's files do;
    Pillow's image of the same file is turned upright by Pillow, with the same answer."""
    for picture in photos:
        expected = command_rect(picture)
        data = picture.read_bytes()
        with Image.open(picture) as opened:
            spread = bytearray(2 * len(data))  # the bytes with a gap after each
            spread[::2] = data
            forms = [picture, str(picture), data, bytearray(data), memoryview(data),
                     memoryview(spread)[::2], io.BytesIO(data), opened]
            for form in forms:
                assert bmpface.detect(form) == expected, (picture.name, type(form).__name__)
        assert bmpface.detect(picture, orient=False) == command_rect(picture, "--no-orient")


FRAMINGS = [  # keywords, the command's options
    ({"margin": 0.25}, ["--margin", "0.25"]),
    ({"aspect": (35, 45)}, ["--aspect", "35:45"]),
    ({"margin": 0.1, "aspect": "1:1"}, ["--margin", "0.1", "--aspect", "1:1"]),
    ({"size": (64, 80)}, ["--size", "64x80"]),
    ({"frame": "region", "margin": 0.1}, ["--frame", "region", "--margin", "0.1"]),
    ({"verify": True, "frame": "face"}, ["--verify", "--frame", "face"]),
]


def needs_verify(keywords):
    if keywords.get("verify"):
        try:
            bmpface.detect(SAMPLE, verify=True)
        except ValueError as why:
            pytest.skip(str(why))


@pytest.mark.parametrize("keywords, options", FRAMINGS, ids=[str(f[0]) for f in FRAMINGS])
def test_framing_as_the_command(photos, tmp_path, keywords, options):
    needs_verify(keywords)
    picture = photos[5]  # a sideways JPEG: framing in the upright picture
    rect = bmpface.detect(picture, **keywords)
    assert rect == command_rect(picture, *options)
    face = bmpface.crop(picture, **keywords)
    size = keywords.get("size")
    assert face.shape[:2] == ((size[1], size[0]) if size else (rect.height, rect.width))
    assert bmpface.extract(picture, tmp_path / "face.png", **keywords) == rect
    subprocess.run([COMMAND, str(picture), str(tmp_path / "command.png"), *options],
                   capture_output=True, check=True, timeout=60)
    with Image.open(tmp_path / "face.png") as ours, Image.open(tmp_path / "command.png") as theirs:
        assert ours.size == theirs.size and ours.tobytes() == theirs.tobytes()


@pytest.mark.parametrize("verify", [False, True])
def test_facts_as_the_command(tmp_path, verify):
    """How sure the answer is, field by field as --detect --json gives it: on the sample (a face)
    and on a skin-coloured disc (a region the face detector does not confirm)."""
    options = {"verify": True} if verify else {}
    needs_verify(options)
    disc = Image.new("RGB", (200, 160), (40, 70, 90))
    ImageDraw = pytest.importorskip("PIL.ImageDraw")
    ImageDraw.Draw(disc).ellipse([50, 10, 130, 110], fill=(214, 160, 128))
    disc.save(tmp_path / "disc.png")
    for picture in (SAMPLE, tmp_path / "disc.png"):
        done = subprocess.run([COMMAND, "--detect", "--json", *(["--verify"] if verify else []),
                               str(picture)], capture_output=True, text=True, timeout=60)
        theirs = json.loads(done.stdout)
        ours = bmpface.facts(picture, **options)
        assert ours.status == theirs["status"]
        region = theirs["region"]
        assert ours.region == bmpface.Rect(region["x"], region["y"], region["width"],
                                           region["height"])
        assert ours.pixel_count == region["pixels"]
        assert ours.candidates == theirs["candidates"]
        assert round(ours.skin_share, 4) == theirs["skin_share"]
        assert ours.verified == theirs.get("verified")
        assert (ours.rect is None) == ("x" not in theirs)


# Pillow modes, each next to the command on a file of that mode.
MODES = [  # mode, how it is made from RGB, the file the command reads
    ("L", lambda rgb: rgb.convert("L"), "PNG"),
    ("LA", lambda rgb: rgb.convert("LA"), "PNG"),
    ("P", lambda rgb: rgb.convert("P"), "PNG"),
    ("RGB", lambda rgb: rgb, "PNG"),
    ("RGBA", lambda rgb: rgb.convert("RGBA"), "PNG"),
    ("CMYK", lambda rgb: rgb.convert("CMYK"), "TIFF"),
    ("CMYK", lambda rgb: rgb.convert("CMYK"), "JPEG"),
    ("I;16", lambda rgb: Image.fromarray(np.asarray(rgb)[..., 0].astype(np.uint16) * 257), "PNG"),
    ("I;16", lambda rgb: Image.fromarray(np.asarray(rgb)[..., 0].astype(np.uint16) * 257), "TIFF"),
    ("YCbCr", lambda rgb: rgb.convert("YCbCr"), "JPEG"),
]


@pytest.mark.parametrize("mode, make, kind", MODES, ids=["%s-%s" % (m[0], m[2]) for m in MODES])
def test_pillow_modes_as_the_command(tmp_path, mode, make, kind):
    with Image.open(SAMPLE) as opened:
        image = make(opened.convert("RGB"))
    assert image.mode == mode
    picture = tmp_path / ("picture." + kind.lower())
    image.save(picture, kind)
    with Image.open(picture) as reread:  # the pixels the file holds (JPEG is lossy)
        reread.load()
    expected = command_rect(picture)
    assert bmpface.detect(reread) == expected == bmpface.detect(reread, "bgr"), mode
    if expected is not None:
        assert bmpface.crop(reread, as_pil=True).mode == ("RGBA" if "A" in mode else "RGB")
        rgb, bgr = bmpface.crop(reread), bmpface.crop(reread, "bgr")
        assert np.array_equal(rgb[..., :3], bgr[..., 2::-1]), mode


def test_modes_without_a_reading_say_how_to_convert():
    with pytest.raises(TypeError, match=r"img.convert\('RGB'\)"):
        bmpface.detect(Image.new("F", (40, 40)))
