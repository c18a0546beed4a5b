#!/usr/bin/python3
"""The quality bench: how often the crop holds the face, on public photos checked by eye.

    quality.py BMPFACE DETECTORS [PICTURES]
    quality.py --explain BMPFACE OUTDIR [PICTURES]

BMPFACE is the command; DETECTORS the bench's program of candidate detectors (detectors.cpp);
PICTURES the folder gather.sh fills (gathered first when not given). Prints, for the rule, the
rule with --verify, the rule with --verify --frame face, the rule with OpenCV's cascades in place
of dlib in the same window, and OpenCV's Haar cascade alone on the whole picture: whole face
inside the crop, part of one, miss, false faces on the photos without a person, and the time
per picture; then the time of one 12 MP photo with and without --verify.

With --explain it draws instead, with `bmpface explain`, one picture of each way the rule fails
(FAILURES), into OUTDIR.

Not a test: its table goes in the README ("What to expect").
"""
import json
import os
import statistics
import subprocess
import sys
import tempfile
import time

from PIL import Image

HERE = os.path.dirname(os.path.abspath(__file__))
VERIFY_MARGIN = 0.2  # as tools/photo/verify.h
VERIFY_SIDE = 320
# One photo of each way the rule fails, as the README lists them.
FAILURES = (("fills-the-picture", "audrey_crop.jpg"),
            ("merges-with-hair-and-neck", "clmtrackr01.jpg"),
            ("another-region-wins", "cage.jpg"),
            ("skin-coloured-things", "orange.jpg"),
            ("rectangle-cuts-the-chin", "clmtrackr02.jpg"),
            ("groups-merge", "sample6.jpg"))


def read_table():
    rows = []
    with open(os.path.join(HERE, "pictures.tsv")) as table:
        for line in table:
            if line.startswith("#") or not line.strip():
                continue
            name, _source, _licence, kind, faces = (line.rstrip("\n").split("\t") + [""])[:5]
            boxes = [tuple(int(v) for v in f.split(",")) for f in faces.split(";") if f]
            rows.append((name, kind, boxes))
    return rows


def overlap(a, b):
    x0, y0 = max(a[0], b[0]), max(a[1], b[1])
    x1, y1 = min(a[0] + a[2], b[0] + b[2]), min(a[1] + a[3], b[1] + b[3])
    return max(0, x1 - x0) * max(0, y1 - y0)


def judge(crop, faces):
    """whole, part or miss: a face wholly inside the crop, at least a quarter of one, or neither."""
    if crop is None:
        return "miss"
    if any(overlap(crop, f) == f[2] * f[3] for f in faces):
        return "whole"
    if any(overlap(crop, f) * 4 >= f[2] * f[3] for f in faces):
        return "part"
    return "miss"


def timed(command):
    start = time.perf_counter()
    done = subprocess.run(command, capture_output=True, text=True)
    return done, time.perf_counter() - start


def bmpface_rows(bmpface, pictures, rows, options):
    """Per picture: (crop or None, region box or None, seconds)."""
    out = {}
    for name, _kind, _faces in rows:
        done, seconds = timed([bmpface, "--detect", "--json", *options,
                               os.path.join(pictures, name)])
        line = json.loads(done.stdout)
        crop = (line["x"], line["y"], line["width"], line["height"]) if "x" in line else None
        region = line.get("region")
        box = (region["x"], region["y"], region["width"], region["height"]) if region else None
        out[name] = (crop, box, seconds)
    return out


def window(box, width, height):
    dx, dy = round(VERIFY_MARGIN * box[2]), round(VERIFY_MARGIN * box[3])
    x0, y0 = max(box[0] - dx, 0), max(box[1] - dy, 0)
    x1, y1 = min(box[0] + box[2] + dx, width), min(box[1] + box[3] + dy, height)
    return x0, y0, x1 - x0, y1 - y0


def cascade_in_region(detectors, kind, pictures, rule, work):
    """The rule, confirmed by an OpenCV cascade in the window --verify searches."""
    out = {}
    for name, (crop, box, seconds) in rule.items():
        if box is None:
            out[name] = (None, None, seconds)
            continue
        with Image.open(os.path.join(pictures, name)) as picture:
            w = window(box, picture.width, picture.height)
            part = picture.convert("RGB").crop((w[0], w[1], w[0] + w[2], w[1] + w[3]))
        path = os.path.join(work, "window.png")
        part.save(path)
        done = subprocess.run([detectors, kind, "--long", str(VERIFY_SIDE), path],
                              capture_output=True, text=True)
        _, ms, found = done.stdout.rstrip("\n").split("\t")
        out[name] = (crop if found else None, box, seconds + float(ms) / 1000)
    return out


def cascade_alone(detectors, kind, pictures, rows):
    """The largest face the cascade finds in the whole picture is the crop."""
    out = {}
    for name, _kind, _faces in rows:
        done, seconds = timed([detectors, kind, os.path.join(pictures, name)])
        found = [tuple(int(v) for v in f.split(",")) for f in
                 done.stdout.rstrip("\n").split("\t")[2].split(";") if f]
        crop = max(found, key=lambda f: f[2] * f[3]) if found else None
        out[name] = (crop, None, seconds)
    return out


def score(rows, results):
    counts = {"whole": 0, "part": 0, "miss": 0}
    false_faces = 0
    held = held_whole = 0
    for name, kind, faces in rows:
        crop, box, _ = results[name]
        if kind == "none":
            false_faces += crop is not None
            continue
        verdict = judge(crop, faces)
        counts[verdict] += 1
        if kind == "portrait" and box is not None:
            f = faces[0]
            cx, cy = f[0] + f[2] / 2, f[1] + f[3] / 2
            if box[0] <= cx < box[0] + box[2] and box[1] <= cy < box[1] + box[3]:
                held += 1
                held_whole += verdict == "whole"
    seconds = statistics.mean(r[2] for r in results.values())
    return counts, false_faces, held, held_whole, seconds


def twelve_megapixels(bmpface, pictures, work):
    with Image.open(os.path.join(pictures, "sample1.jpg")) as picture:
        big = picture.convert("RGB").resize((4243, 2828), Image.LANCZOS)
    path = os.path.join(work, "12mp.jpg")
    big.save(path, quality=92)
    requests = (("rule", []), ("rule + verify", ["--verify"]),
                ("rule + verify + frame face", ["--verify", "--frame", "face"]))
    runs = {label: [] for label, _ in requests}
    # Taken in turn, so that a busy moment of the machine falls on all of them alike; the fastest
    # run of each is the one least disturbed.
    for _ in range(9):
        for label, options in requests:
            runs[label].append(timed([bmpface, path, os.path.join(work, "crop.jpg"), *options])[1])
    return {label: min(seconds) for label, seconds in runs.items()}


def explain(bmpface, outdir, pictures):
    os.makedirs(outdir, exist_ok=True)
    for label, name in FAILURES:
        out = os.path.join(outdir, label + ".png")
        subprocess.run([bmpface, "explain", os.path.join(pictures, name), out],
                       check=False, capture_output=True)
        print(out)


def gathered():
    return subprocess.run([os.path.join(HERE, "gather.sh")], capture_output=True, text=True,
                          check=True).stdout.strip()


def main():
    if len(sys.argv) > 3 and sys.argv[1] == "--explain":
        explain(sys.argv[2], sys.argv[3], sys.argv[4] if len(sys.argv) > 4 else gathered())
        return
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    bmpface, detectors = sys.argv[1], sys.argv[2]
    pictures = sys.argv[3] if len(sys.argv) > 3 else gathered()
    rows = read_table()
    faces = sum(kind != "none" for _, kind, _ in rows)
    nones = len(rows) - faces
    with tempfile.TemporaryDirectory() as work:
        rule = bmpface_rows(bmpface, pictures, rows, [])
        table = [
            ("rule", rule),
            ("rule + verify (dlib HOG)", bmpface_rows(bmpface, pictures, rows, ["--verify"])),
            ("rule + verify + frame face",
             bmpface_rows(bmpface, pictures, rows, ["--verify", "--frame", "face"])),
            ("rule + OpenCV Haar in the window", cascade_in_region(detectors, "haar", pictures,
                                                                   rule, work)),
            ("rule + OpenCV LBP in the window", cascade_in_region(detectors, "lbp", pictures,
                                                                  rule, work)),
            ("OpenCV Haar alone", cascade_alone(detectors, "haar", pictures, rows)),
        ]
        print("%d photos with faces (%d portraits), %d without a person" %
              (faces, sum(kind == "portrait" for _, kind, _ in rows), nones))
        print("| request | whole face | part | miss | false faces | whole, region holds the face "
              "| ms per picture |")
        print("|---|---|---|---|---|---|---|")
        for label, results in table:
            counts, false_faces, held, held_whole, seconds = score(rows, results)
            print("| %s | %d | %d | %d | %d of %d | %d of %d | %.0f |" %
                  (label, counts["whole"], counts["part"], counts["miss"], false_faces, nones,
                   held_whole, held, seconds * 1000))
        times = twelve_megapixels(bmpface, pictures, work)
        base = times["rule"]
        print()
        print("12 MP JPEG (4243 x 2828), crop written as JPEG, fastest of 9 runs taken in turn:")
        for label, seconds in times.items():
            print("  %s: %.0f ms (%.2f x)" % (label, seconds * 1000, seconds / base))


if __name__ == "__main__":
    main()
