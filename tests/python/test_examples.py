"""The scale-out examples, each run as a program on a small folder: a face, a face one folder
down, a picture without a face and a file that is no picture."""
import os
import pathlib
import shutil
import subprocess
import sys

import numpy as np
import pytest

import bmpface

ROOT = pathlib.Path(__file__).resolve().parents[2]
SAMPLE = ROOT / "examples" / "hopper.bmp"

EXAMPLES = [  # program, the crops' suffix, its summary, a module it needs
    ("crop_folder_futures.py", ".bmp", "2 cropped, 1 without a face, 1 failed", None),
    ("crop_folder_dask.py", ".png", "2 cropped, 1 without a face, 1 unreadable", "distributed"),
]


@pytest.mark.parametrize("program, suffix, summary, needs", EXAMPLES, ids=[e[0] for e in EXAMPLES])
def test_example_crops_a_folder(tmp_path, program, suffix, summary, needs):
    Image = pytest.importorskip("PIL.Image")
    if needs:
        pytest.importorskip(needs)
    photos, faces = tmp_path / "photos", tmp_path / "faces"
    (photos / "2019").mkdir(parents=True)
    shutil.copyfile(SAMPLE, photos / "a.bmp")
    shutil.copyfile(SAMPLE, photos / "2019" / "b.bmp")
    Image.new("RGB", (80, 60)).save(photos / "dark.bmp")
    (photos / "broken.bmp").write_bytes(b"not a picture")

    package = os.path.dirname(os.path.dirname(bmpface.__file__))  # the bmpface under test
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(filter(None, [package, os.environ.get("PYTHONPATH")])))
    run = subprocess.run([sys.executable, str(ROOT / "examples" / program), str(photos), str(faces)],
                         env=env, capture_output=True, text=True, timeout=300)
    assert run.returncode == 1, run.stderr
    assert run.stdout.splitlines()[-1] == summary
    with Image.open(SAMPLE) as sample:
        face = bmpface.crop(np.asarray(sample.convert("RGB")))
    for name in ("a", "2019/b"):
        with Image.open(faces / (name + suffix)) as written:
            assert np.array_equal(np.asarray(written.convert("RGB")), face), name
    assert sorted(p.name for p in faces.rglob("*") if p.is_file()) == ["a" + suffix, "b" + suffix]
