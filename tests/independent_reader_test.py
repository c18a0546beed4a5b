"""Crops written by the library must decode in Pillow to exactly the expected pixels.

Usage: independent_reader_test.py [EMULATOR...] CROP_FIXTURE
"""
import subprocess
import sys
import tempfile

from PIL import Image

# Inside the 7x5 source and reaching past its edges, with and without row fill.
RECTS = [(1, 1, 4, 3), (2, 0, 5, 5), (-2, 3, 7, 4), (5, -1, 3, 2)]

failures = 0
for x, y, w, h in RECTS:
    with tempfile.TemporaryDirectory() as out:
        subprocess.run([*sys.argv[1:], out, str(x), str(y), str(w), str(h)], check=True)
        for bits in (24, 32):
            crop = f"{out}/crop{bits}"
            with Image.open(f"{crop}.bmp") as image, open(f"{crop}.rgb", "rb") as f:
                size, got, want = image.size, image.convert("RGB").tobytes(), f.read()
            if size != (w, h) or got != want:
                failures += 1
                wrong = [i // 3 for i in range(min(len(got), len(want))) if got[i] != want[i]]
                print(f"FAIL {bits}-bit crop at {x},{y} {w}x{h}: size {size}, "
                      f"first wrong pixel {wrong[:1]}")
print(f"{2 * len(RECTS) - failures} of {2 * len(RECTS)} crops decoded as expected")
sys.exit(1 if failures else 0)
