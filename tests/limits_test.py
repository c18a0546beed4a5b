"""Attacks on the command's limits: files of a few hundred bytes that declare gigapixel pictures or
endless work, in every mode (--detect, a crop, explain, batch -j 2). Each must be refused from its
header (exit 1, naming the limit and --max-pixels) or stay bounded; the peak memory of each run is
measured (as /usr/bin/time does, from the kernel's account of the child) and printed. Also: outputs
over the limit, numbers that are not numbers, a libvips planted through LD_LIBRARY_PATH, and a
reject folder inside the output folder.

  limits_test.py BMPFACE [--sanitized]     (--sanitized: memory is reported, not bounded)
"""
import io
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

from PIL import Image, ImageDraw

sys.dont_write_bytecode = True  # nothing written into the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from bombs import SIDE, bombs  # noqa: E402

BMPFACE = os.path.abspath(sys.argv[1])
SANITIZED = "--sanitized" in sys.argv
PEAK_MB = 300    # a refused or bounded picture; a real 12 MP photo takes about 100
HANG_S = 60      # far beyond any refusal: only a runaway decode reaches it
failures = []


def check(ok, what):
    if not ok:
        failures.append(what)
        print("FAIL", what)


def measured(args, cwd=None, env=None):
    """Runs bmpface under os.wait4 in a fresh process, for its own peak: (exit status, what it
    wrote on standard output and error, peak resident MB, seconds)."""
    script = ("import os,sys,time\nt=time.monotonic()\npid=os.fork()\n"
              "if pid==0:\n  os.dup2(2,1)\n"
              "  os.execv(sys.argv[1],sys.argv[1:])\n"
              "_,status,usage=os.wait4(pid,0)\n"
              "print(os.waitstatus_to_exitcode(status),usage.ru_maxrss,time.monotonic()-t)\n")
    child = subprocess.Popen([sys.executable, "-c", script, BMPFACE] + args, cwd=cwd, env=env,
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                             start_new_session=True)
    try:
        out, err = child.communicate(timeout=HANG_S)
    except subprocess.TimeoutExpired:
        os.killpg(child.pid, signal.SIGKILL)  # the helper and bmpface under it
        child.communicate()
        return None, f"still running after {HANG_S} s", 0.0, float(HANG_S)
    code, rss_kb, seconds = out.split()
    return int(code), err.decode("utf-8", "replace"), int(rss_kb) / 1024, float(seconds)


def face_jpeg():
    picture = Image.new("RGB", (400, 300), (40, 70, 90))
    ImageDraw.Draw(picture).ellipse([120, 40, 260, 220], fill=(214, 160, 128))
    out = io.BytesIO()
    picture.save(out, format="JPEG", quality=92)
    return out.getvalue()


def main():
    work = tempfile.mkdtemp()
    try:
        attacks(work)
        planted_module(work)
        reject_inside_out(work)
    finally:
        shutil.rmtree(work)
    print(f"{len(failures)} failed" if failures else "all passed")
    return 1 if failures else 0


def attacks(work):
    folder = os.path.join(work, "bombs")
    os.mkdir(folder)
    for name, data in bombs().items():
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)
    # The library's own depth with its rows "present": a sparse file of 2 GB.
    with open(os.path.join(folder, "deep.bmp"), "r+b") as f:
        f.truncate(54 + SIDE * SIDE * 3)
    # A small real picture followed by 2 GB of nothing: read as far as the picture goes.
    small = io.BytesIO()
    Image.new("RGB", (64, 64), (40, 70, 90)).save(small, format="PNG")
    with open(os.path.join(folder, "sparse.png"), "wb") as f:
        f.write(small.getvalue())
        f.truncate(2 << 30)
    # Half a JPEG closed with an end mark: its grey lower half would move the face.
    whole = face_jpeg()
    with open(os.path.join(folder, "cut.jpg"), "wb") as f:
        f.write(whole[:len(whole) // 2] + b"\xff\xd9")

    print(f"{'picture':16} {'mode':8} {'exit':>4} {'peak MB':>8} {'s':>6}")
    refused_at_header = set(bombs()) - {"scans.jpg"}
    for name in sorted(os.listdir(folder)):
        path = os.path.join(folder, name)
        for mode, args in (("detect", ["--detect", path]),
                           ("crop", [path, os.path.join(work, "out.png")]),
                           ("explain", ["explain", path, os.path.join(work, "explain.png")])):
            code, err, peak, seconds = measured(args)
            print(f"{name:16} {mode:8} {str(code):>4} {peak:8.1f} {seconds:6.2f}")
            if name == "sparse.png":  # a real picture: read, without a face
                check(code in (0, 2), f"{name} {mode}: exit {code}: {err}")
            else:
                check(code == 1, f"{name} {mode}: exit {code}, expected 1: {err}")
            if name in refused_at_header:
                check("--max-pixels" in err, f"{name} {mode}: the limit is not named: {err}")
            if name == "scans.jpg":
                check("scans" in err, f"{name} {mode}: not refused for its scans: {err}")
            if name == "cut.jpg":
                check("truncated" in err, f"{name} {mode}: not refused as truncated: {err}")
            check(SANITIZED or peak < PEAK_MB, f"{name} {mode}: peak {peak:.0f} MB")
            for leftover in ("out.png", "explain.png"):
                if os.path.exists(os.path.join(work, leftover)):
                    os.remove(os.path.join(work, leftover))

    code, err, peak, seconds = measured(["batch", "--no-progress", "-j", "2", folder, "--out",
                                         os.path.join(work, "faces")])
    print(f"{'all':16} {'batch -j2':8} {str(code):>4} {peak:8.1f} {seconds:6.2f}")
    check(code == 1, f"batch: exit {code}: {err}")
    check(SANITIZED or peak < 2 * PEAK_MB, f"batch -j 2: peak {peak:.0f} MB")

    # Outputs: refused while the command line is read, before any picture is.
    picture = os.path.join(work, "face.jpg")
    with open(picture, "wb") as f:
        f.write(face_jpeg())
    out = os.path.join(work, "o.png")
    for args, words in ((["--size", "65535x65535"], "over the limit"),
                        (["--size", "20000x20000", "--max-pixels", "0", "--format", "webp"],
                         "16383"),
                        (["--quality", "nan"], "not a whole number"),
                        (["--quality", "5abc"], "not a whole number"),
                        (["--timeout", "1.5"], "not a whole number"),
                        (["--max-pixels", "1e9"], "not a whole number")):
        code, err, _, _ = measured([picture, out] + args)
        check(code == 64 and words in err, f"{args}: exit {code}: {err}")
    # A warning that loses no data, as camera files have (bytes between two segments): the same
    # rectangle as the clean file.
    benign = os.path.join(work, "extra-bytes.jpg")
    data = face_jpeg()
    at = data.index(b"\xff\xda")
    with open(benign, "wb") as f:
        f.write(data[:at] + b"\x00\x11\x22\x33" + data[at:])
    rects = [measured(["--detect", p])[1].split(": ")[-1] for p in (picture, benign)]
    check(rects[0] == rects[1] and rects[0][0].isdigit(), f"benign warning: {rects}")
    code, err, _, _ = measured([picture, ""])
    check(code == 64, f"empty output name: exit {code}")
    # The limit is the caller's: lowered it refuses a real picture, 0 lifts it.
    code, err, _, _ = measured(["--detect", picture, "--max-pixels", "119999"])
    check(code == 1 and "119999" in err, f"--max-pixels 119999: exit {code}: {err}")
    code, err, _, _ = measured(["--detect", picture, "--max-pixels", "0"])
    check(code == 0, f"--max-pixels 0: exit {code}: {err}")


def planted_module(work):
    """A libvips without the symbols bmpface needs, first in LD_LIBRARY_PATH: a clear refusal."""
    version = subprocess.run([BMPFACE, "--version"], capture_output=True, text=True).stdout
    if "through libvips" not in version:
        print("planted module: skipped, this bmpface has no libvips module")
        return
    plant = os.path.join(work, "plant")
    os.mkdir(plant)
    source = os.path.join(plant, "empty.c")
    with open(source, "w") as f:
        f.write("int bmpface_planted;\n")
    subprocess.run([os.environ.get("CC", "cc"), "-shared", "-fPIC", "-Wl,-soname,libvips.so.42",
                    "-o", os.path.join(plant, "libvips.so.42"), source], check=True)
    picture = os.path.join(work, "face.jpg")
    env = dict(os.environ, LD_LIBRARY_PATH=plant)
    code, err, _, _ = measured(["--detect", picture], env=env)
    check(code == 1 and "needs libvips" in err, f"planted libvips: exit {code}: {err}")
    # A copy of the program with a module beside it, outside its build tree: never loaded.
    shutil.copy(BMPFACE, plant)
    with open(os.path.join(plant, "bmpface-vips.so"), "wb") as f:
        f.write(b"not a module")
    copy = subprocess.run([os.path.join(plant, "bmpface"), "--detect", picture],
                          capture_output=True, text=True)
    err = copy.stdout + copy.stderr
    check(os.path.join(plant, "bmpface-vips.so") not in err,
          f"module taken from beside an installed program: {err}")


def reject_inside_out(work):
    """A reject folder inside the output folder: a crop and a reject copy would share a path."""
    photos = os.path.join(work, "photos")
    os.makedirs(os.path.join(photos, "no-face"))
    data = face_jpeg()
    for name in ("x.jpg", "no-face/x.jpg"):
        with open(os.path.join(photos, name), "wb") as f:
            f.write(data)
    faces = os.path.join(work, "out")
    code, err, _, _ = measured(["batch", "--no-progress", photos, "--out", faces, "--reject",
                                os.path.join(faces, "no-face")])
    check(code == 64 and "both the crop" in err, f"reject inside out: exit {code}: {err}")
    written = [f for _, _, files in os.walk(faces) for f in files]
    check(not written, f"reject inside out wrote {written}")


if __name__ == "__main__":
    sys.exit(main())
