#!/usr/bin/python3
"""Times the Python package against the C pixel call it is built on, and its thread scaling.

    PYTHONPATH=build/python /usr/bin/python3 bench/python_bench.py build/libbmpface_pixels.so

1. Overhead: bmpface.detect on the sample as a blue-first array, against BMPFaceDetectPixels of
   the shared library on the same pixels through ctypes, calls interleaved so that both see the
   same load; medians. ctypes adds its own call cost to the C figure (shown: an empty call), so the
   overhead printed is a slight underestimate by that much. Red-first arrays are shown apart: they
   are copied into blue-first order first, which the C call never does.
2. Scaling: detect on a 12 MP upscale of the sample (4000 x 3000), the same number of calls on
   one thread and on two threads of a ThreadPoolExecutor; the speed-up is the ratio of the times.
Needs NumPy and Pillow.
"""
import concurrent.futures
import ctypes
import os
import statistics
import sys
import time

import numpy as np
from PIL import Image

import bmpface

HERE = os.path.dirname(os.path.abspath(__file__))
SAMPLE = os.path.join(HERE, "..", "examples", "hopper.bmp")


class CRect(ctypes.Structure):
    _fields_ = [("x", ctypes.c_int32), ("y", ctypes.c_int32), ("width", ctypes.c_int32),
                ("height", ctypes.c_int32)]


def overhead(library, rounds):
    detect = ctypes.CDLL(library).BMPFaceDetectPixels
    detect.restype = ctypes.c_int32
    with Image.open(SAMPLE) as opened:
        rgb = np.asarray(opened.convert("RGB"))
    bgr = np.ascontiguousarray(rgb[..., ::-1])
    height, width, channels = bgr.shape
    pointer, rect = bgr.ctypes.data_as(ctypes.POINTER(ctypes.c_uint8)), CRect()
    arguments = (pointer, width, height, width * channels, channels, ctypes.byref(rect))
    empty = ctypes.CDLL(None).getpid  # the cost of a ctypes call that does nothing
    times = {"c": [], "bgr": [], "rgb": [], "ctypes": []}
    for _ in range(rounds):
        for name, call in (("c", lambda: detect(*arguments)),
                           ("bgr", lambda: bmpface.detect(bgr, "bgr")),
                           ("rgb", lambda: bmpface.detect(rgb)),
                           ("ctypes", empty)):
            start = time.perf_counter()
            call()
            times[name].append(time.perf_counter() - start)
    assert (rect.x, rect.y, rect.width, rect.height) == bmpface.detect(bgr, "bgr")
    c = statistics.median(times["c"])
    print(f"sample {width} x {height}, medians of {rounds} interleaved calls:")
    print(f"  C BMPFaceDetectPixels through ctypes  {c * 1e6:9.1f} us"
          f"  (an empty ctypes call: {statistics.median(times['ctypes']) * 1e6:.2f} us)")
    for name in ("bgr", "rgb"):
        t = statistics.median(times[name])
        print(f"  bmpface.detect, order={name!r:6}        {t * 1e6:9.1f} us"
              f"  overhead {100 * (t / c - 1):+.2f} %")


def scaling(calls):
    with Image.open(SAMPLE) as opened:
        rgb = np.asarray(opened.convert("RGB").resize((4000, 3000), Image.Resampling.BICUBIC))
    bgr = np.ascontiguousarray(rgb[..., ::-1])
    print(f"12 MP ({rgb.shape[1]} x {rgb.shape[0]}), {calls} calls of bmpface.detect, best of 3:")
    for name, source, order in (("order='bgr'", bgr, "bgr"), ("order='rgb'", rgb, "rgb")):
        best = {}
        for threads in (1, 2, 1, 2, 1, 2):
            with concurrent.futures.ThreadPoolExecutor(threads) as pool:
                start = time.perf_counter()
                list(pool.map(lambda _: bmpface.detect(source, order), range(calls)))
                elapsed = time.perf_counter() - start
            best[threads] = min(best.get(threads, elapsed), elapsed)
        print(f"  {name}: 1 thread {best[1] / calls * 1e3:.1f} ms a call, 2 threads "
              f"{best[2] / calls * 1e3:.1f} ms a call: {best[1] / best[2]:.2f} x")


def main(argv):
    if len(argv) != 2:
        sys.stderr.write(__doc__)
        return 64
    print(f"nproc {os.cpu_count()}, load {open('/proc/loadavg').read().split()[0]} at the start")
    overhead(argv[1], 400)
    scaling(16)
    print(f"load {open('/proc/loadavg').read().split()[0]} at the end")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
