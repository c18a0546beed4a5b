#!/usr/bin/python3
"""Summarises the results folder of bench/e2e.sh as markdown on standard output.

    e2e_summary.py RESULTS_DIR PICTURE_DIR
"""
import glob
import json
import os
import re
import sys


def load(path):
    with open(path) as f:
        return json.load(f)


def bmp_layout(path):
    """(width, height, bytes per pixel) from a BMP header."""
    with open(path, "rb") as f:
        header = f.read(30)
    width = int.from_bytes(header[18:22], "little", signed=True)
    height = abs(int.from_bytes(header[22:26], "little", signed=True))
    bits = int.from_bytes(header[28:30], "little")
    return width, height, bits // 8


def ms(seconds):
    return "%.1f" % (seconds * 1000.0) if seconds is not None else "-"


def ratio(a, b):
    return "%.2f" % (a / b) if a is not None and b else "-"


def main(argv):
    results, pictures = argv[1], argv[2]
    out = []
    with open(os.path.join(results, "meta.txt")) as f:
        out += ["- " + line.rstrip() for line in f if line.strip()]
    out.append("")

    # In process: medians of the repetitions, in seconds.
    inprocess = {}
    path = os.path.join(results, "inprocess.json")
    if os.path.exists(path):
        scale = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}
        for b in load(path)["benchmarks"]:
            if b.get("aggregate_name") == "median":
                # "KIND/PICTURE.bmp/real_time"
                kind, picture = b["run_name"].split("/")[:2]
                inprocess[(kind, picture[:-4])] = b["real_time"] * scale[b["time_unit"]]

    # Whole processes: hyperfine medians, in seconds.
    processes = {}
    for path in sorted(glob.glob(os.path.join(results, "hf-*.json"))):
        name = re.sub(r"^hf-|\.json$", "", os.path.basename(path))
        for r in load(path)["results"]:
            processes[(r["command"], name)] = r

    def median(kind, name):
        r = processes.get((kind, name))
        return r["median"] if r else None

    startup = median("opencv", "startup")
    out.append("Whole processes (hyperfine medians, ms) and in-process work "
               "(Google Benchmark medians, ms):")
    out.append("")
    out.append("| picture | bmpface | floor | OpenCV | bmpface / floor | OpenCV / bmpface "
               "| bmpface in process | floor in process | OpenCV in process "
               "| OpenCV in process / bmpface |")
    out.append("|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|")
    names = sorted({n for (_, n) in processes if n != "startup"}, key=lambda n: -bmp_layout(
        os.path.join(pictures, "hopper-%s.bmp" % n))[0]) + ["startup"]
    for name in names:
        ours, floor, theirs = median("bmpface", name), median("floor", name), median("opencv", name)
        key = "hopper-" + name
        work = inprocess.get(("opencv", key))
        out.append("| %s | %s | %s | %s | %s | %s | %s | %s | %s | %s |" % (
            name if name != "startup" else "tiny 64x64 (start-up)", ms(ours), ms(floor),
            ms(theirs), ratio(ours, floor), ratio(theirs, ours),
            ms(inprocess.get(("bmpface", key))), ms(inprocess.get(("floor", key))), ms(work),
            ratio(work, ours)))
    out.append("")
    out.append("Fastest of the runs (ms; on a busy machine the least disturbed): " + ", ".join(
        "%s %s: %s" % (kind, name, ms(r["min"]))
        for (kind, name), r in sorted(processes.items(), key=lambda kv: (kv[0][1], kv[0][0]))))
    out.append("")
    huge = [(name, r["median"]) for (kind, name), r in sorted(processes.items())
            if kind == "floor-huge"]
    if huge:
        out.append("For reference, not a target: the floor with its buffer on transparent huge "
                   "pages, as bmpface obtains its large blocks (median, ms): " + ", ".join(
                       "%s: %s (bmpface %s x of it)"
                       % (name, ms(t), ratio(median("bmpface", name), t))
                       for name, t in huge))
        out.append("")
    out.append("CPU time of the whole processes (user + system, hyperfine means, ms): " + ", ".join(
        "%s %s: %.1f" % (kind, name, (r["user"] + r["system"]) * 1000.0)
        for (kind, name), r in sorted(processes.items(), key=lambda kv: (kv[0][1], kv[0][0]))))
    out.append("")

    # Every picture in process.
    pics = sorted({p for (_, p) in inprocess}, key=lambda p: (
        bmp_layout(os.path.join(pictures, p + ".bmp"))[0], p))
    if pics:
        out.append("In process, every picture (medians, ms):")
        out.append("")
        out.append("| picture | floor | floor on huge pages | bmpface | OpenCV | bmpface / floor "
                   "| bmpface / floor on huge pages | OpenCV / bmpface |")
        out.append("|---|---:|---:|---:|---:|---:|---:|---:|")
        for p in pics:
            f, h, o, c = (inprocess.get((k, p))
                          for k in ("floor", "floor-huge", "bmpface", "opencv"))
            out.append("| %s | %s | %s | %s | %s | %s | %s | %s |" % (
                p, ms(f), ms(h), ms(o), ms(c), ratio(o, f), ratio(o, h), ratio(c, o)))
        out.append("")

    # Peak memory against 1.6 x the pixel buffer + 2 bytes per pixel.
    memory = []  # request / bound per picture
    peaks = {}  # picture: (peak KiB, minor faults, file bytes, crop file bytes) of a whole process
    path = os.path.join(results, "memory.tsv")
    if os.path.exists(path):
        with open(path) as f:
            rows = [line.rstrip("\n").split("\t") for line in f][1:]
        base = dict((r[0], r) for r in rows).get("startup")
        base_kib, base_faults = (int(base[1]), int(base[2])) if base else (0, 0)
        out.append("Peak memory (maximum resident set, KiB) and minor page faults (4 KiB pages "
                   "touched first). The start-up row is a 64 x 64 picture: what the process costs "
                   "before any picture; 'request' is the peak less that.")
        out.append("")
        out.append("| picture | bmpface peak | bmpface request "
                   "| bound: 1.6 x pixel buffer + 2 B/pixel | request / bound "
                   "| bmpface faults (request) | OpenCV peak | OpenCV faults |")
        out.append("|---|---:|---:|---:|---:|---:|---:|---:|")
        for name, ours, faults, theirs, their_faults, file_bytes, crop_bytes in rows:
            peaks[name] = (int(ours), int(faults), int(file_bytes), int(crop_bytes))
            if name == "startup":
                out.append("| start-up | %s | - | - | - | %s | %s | %s |" % (
                    ours, faults, theirs, their_faults))
                continue
            width, height, bpp = bmp_layout(os.path.join(pictures, name + ".bmp"))
            buffer = ((width * bpp + 3) & ~3) * height
            bound = (1.6 * buffer + 2 * width * height) / 1024.0
            request = int(ours) - base_kib
            memory.append(request / bound)
            out.append("| %s | %s | %d | %.0f | %.2f | %d | %s | %s |" % (
                name, ours, request, bound, request / bound, int(faults) - base_faults, theirs,
                their_faults))
        out.append("")

    # The targets of the work on speed.
    checks = []
    big, small = "4000x3000-24", "512x600-24"
    ours, floor, theirs = median("bmpface", big), median("floor", big), median("opencv", big)
    work = inprocess.get(("opencv", "hopper-" + big))
    request = inprocess.get(("bmpface", "hopper-" + big))
    floor_huge = inprocess.get(("floor-huge", "hopper-" + big))
    if request and floor_huge:
        checks.append(("12 MP in process: a request at most 2 x the floor on huge pages",
                       request / floor_huge <= 2.0, "%.2f x" % (request / floor_huge)))
    if ("hopper-" + big) in peaks:
        kib, faults, file_bytes, crop_bytes = peaks["hopper-" + big]
        checks.append(("12 MP whole process: at most 2,000 minor page faults", faults <= 2000,
                       "%d" % faults))
        limit = file_bytes + crop_bytes + 8e6
        checks.append(("12 MP whole process: peak resident set at most the file + the crop + 8 MB",
                       kib * 1024 <= limit, "%.1f MB against %.1f MB" % (kib * 1024 / 1e6,
                                                                         limit / 1e6)))
    if ours and theirs:
        checks.append(("12 MP: at least 4 x faster than the OpenCV process", theirs / ours >= 4.0,
                       "%.2f x" % (theirs / ours)))
    if median("bmpface", small):
        sample = median("bmpface", small)
        checks.append(("sample: a whole bmpface process under 2 ms", sample < 0.002,
                       "%s ms" % ms(sample)))
    if memory:
        checks.append(("peak memory of a request within the bound on every picture",
                       max(memory) <= 1.0, "at most %.2f of it" % max(memory)))
    if startup is not None:
        rest = ms(theirs - work) if theirs and work else "-"
        out.append("OpenCV start-up (the tiny picture as a whole process): %s ms; 12 MP process "
                   "less its in-process work: %s ms." % (ms(startup), rest))
        out.append("")
    if checks:
        out.append("Targets:")
        out += ["- %s: %s (%s)" % (what, "met" if ok else "NOT met", value)
                for what, ok, value in checks]
    print("\n".join(out))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
