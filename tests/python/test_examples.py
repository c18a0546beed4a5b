"""The scale-out examples and bmpface.crop_folder, each run as a program on a mixed folder: a face
in BMP and one folder down, a sideways phone photo (EXIF orientation 6), a picture without a
face, a file that is no picture, a decompression bomb and a truncated JPEG. No abort, no partial
file, the right counts."""
import io
import os
import pathlib
import shutil
import struct
import subprocess
import sys
import zlib

import numpy as np
import pytest

import bmpface

ROOT = pathlib.Path(__file__).resolve().parents[2]
SAMPLE = ROOT / "examples" / "hopper.bmp"

SUMMARY = "7 pictures: 3 done, 1 no face, 3 failed, 0 skipped"
EXAMPLES = [  # program, the crops' suffix for (a BMP, a JPEG), its summary, a module it needs
    (["examples/crop_folder_futures.py"], (".bmp", ".jpg"), SUMMARY, None),
    (["-m", "bmpface"], (".bmp", ".jpg"), SUMMARY, None),
    (["examples/crop_folder_dask.py"], (".png", ".png"),
     "3 cropped, 1 without a face, 3 unreadable", "distributed"),
]


def png_bomb(side):
    """A PNG that declares side x side pixels in a few kilobytes."""
    def chunk(kind, data):
        check = struct.pack(">I", zlib.crc32(kind + data))
        return struct.pack(">I", len(data)) + kind + data + check
    header = struct.pack(">IIBBBBB", side, side, 8, 0, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) +
            chunk(b"IDAT", zlib.compress(bytes((side + 1) * 64), 9)) + chunk(b"IEND", b""))


def mixed_folder(photos, Image):
    (photos / "2019").mkdir(parents=True)
    shutil.copyfile(SAMPLE, photos / "a.bmp")
    shutil.copyfile(SAMPLE, photos / "2019" / "b.bmp")
    Image.new("RGB", (80, 60)).save(photos / "dark.bmp")
    (photos / "broken.bmp").write_bytes(b"not a picture")
    (photos / "bomb.png").write_bytes(png_bomb(50000))
    with Image.open(SAMPLE) as sample:
        held = io.BytesIO()
        sample.convert("RGB").save(held, "JPEG")
        (photos / "cut.jpg").write_bytes(held.getvalue()[:len(held.getvalue()) // 2])
        exif = Image.Exif()
        exif[0x0112] = 6  # stored turned a quarter anticlockwise: shown turned back
        sample.convert("RGB").transpose(Image.Transpose.ROTATE_90).save(photos / "phone.jpg",
                                                                         exif=exif.tobytes())


@pytest.mark.parametrize("program, suffixes, summary, needs", EXAMPLES,
                         ids=[e[0][-1] for e in EXAMPLES])
def test_example_crops_a_mixed_folder(tmp_path, program, suffixes, summary, needs):
    Image = pytest.importorskip("PIL.Image")
    if needs:
        pytest.importorskip(needs)
    if not bmpface._bmpface.HAVE_VIPS:
        pytest.skip("JPEG and PNG need libvips")
    photos, faces = tmp_path / "photos", tmp_path / "faces"
    mixed_folder(photos, Image)

    package = os.path.dirname(os.path.dirname(bmpface.__file__))  # the bmpface under test
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(
        filter(None, [package, os.environ.get("PYTHONPATH")])))
    command = [sys.executable] + [str(ROOT / p) if p.endswith(".py") else p for p in program]
    run = subprocess.run(command + [str(photos), str(faces)], env=env, capture_output=True,
                         text=True, timeout=300)
    assert run.returncode == 1, run.stderr
    assert run.stdout.splitlines()[-1] == summary
    for name in ("bomb.png", "cut.jpg", "broken.bmp"):
        assert name in run.stdout + run.stderr
    face = bmpface.crop(SAMPLE)
    for name in ("a", "2019/b"):
        with Image.open(faces / (name + suffixes[0])) as written:
            assert np.array_equal(np.asarray(written.convert("RGB")), face), name
    with Image.open(faces / ("phone" + suffixes[1])) as written:  # upright: taller than wide
        assert written.size == bmpface.detect(photos / "phone.jpg")[2:] == (333, 369)
    # Only whole crops: no temporary file left, nothing for the failed pictures.
    assert sorted(p.name for p in faces.rglob("*")) == sorted(
        ["2019", "a" + suffixes[0], "b" + suffixes[0], "phone" + suffixes[1]])


def test_crop_folder_resumes_and_reports(tmp_path):
    Image = pytest.importorskip("PIL.Image")
    photos, faces = tmp_path / "photos", tmp_path / "faces"
    (photos / "2019").mkdir(parents=True)
    shutil.copyfile(SAMPLE, photos / "a.bmp")
    shutil.copyfile(SAMPLE, photos / "2019" / "b.bmp")
    Image.new("RGB", (80, 60)).save(photos / "dark.bmp")
    kind = "png" if bmpface._bmpface.HAVE_VIPS else "bmp"
    first = bmpface.crop_folder(photos, faces, format=kind, progress=False)
    assert tuple(first) == (2, 1, 0, 0)
    (faces / ("a." + kind)).unlink()
    report = tmp_path / "report.jsonl"
    again = bmpface.crop_folder(photos, faces, format=kind, resume=True, report=report,
                                progress=False)
    assert tuple(again) == (1, 1, 0, 1) and str(again).startswith("3 pictures: 1 done")
    lines = sorted(report.read_text().splitlines())
    assert lines == sorted([
        '{"path":"%s","status":"done","x":72,"y":0,"width":332,"height":369,"output":"%s"}' % (
            photos / "a.bmp", faces / ("a." + kind)),
        '{"path":"%s","status":"no_face","output":null}' % (photos / "dark.bmp"),
        '{"path":"%s","status":"skipped","output":"%s"}' % (photos / "2019" / "b.bmp",
                                                            faces / "2019" / ("b." + kind))])
    with Image.open(faces / ("a." + kind)) as written:
        assert written.format == kind.upper() and written.size == (332, 369)
