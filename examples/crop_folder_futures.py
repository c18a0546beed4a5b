#!/usr/bin/env python3
"""Crops the face of every BMP picture below a folder into another folder, on all cores, with a
thread pool from concurrent.futures. bmpface releases the interpreter lock while it works, so the
threads really run at once.

    python3 examples/crop_folder_futures.py PHOTOS FACES [-j N]

A picture keeps its place below the folder: PHOTOS/2019/a.bmp gives FACES/2019/a.bmp. Prints a
line for each picture without a face or that failed, then a summary. Exit status: 0 when no
picture failed (a picture without a face has not failed), 1 otherwise.
"""
import argparse
import concurrent.futures
import os
import pathlib
import sys

import bmpface


def crop(source, target):
    """Writes the face of `source` to `target`; returns bmpface.extract's status."""
    target.parent.mkdir(parents=True, exist_ok=True)
    return bmpface.extract(source, target)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("photos", type=pathlib.Path)
    parser.add_argument("faces", type=pathlib.Path)
    parser.add_argument("-j", "--jobs", type=int, default=os.cpu_count())
    args = parser.parse_args()

    sources = sorted(p for p in args.photos.rglob("*") if p.suffix.lower() == ".bmp" and p.is_file())
    failed = without_face = 0
    with concurrent.futures.ThreadPoolExecutor(max_workers=args.jobs) as pool:
        statuses = pool.map(lambda p: crop(p, args.faces / p.relative_to(args.photos)), sources)
        for source, status in zip(sources, statuses):
            if status == bmpface.NO_FACE:
                without_face += 1
                print(f"{source}: no face")
            elif status != bmpface.OK:
                failed += 1
                print(f"{source}: failed with status {status}")
    print(f"{len(sources) - failed - without_face} cropped, {without_face} without a face, "
          f"{failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
