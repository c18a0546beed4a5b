#!/usr/bin/env python3
"""Crops the faces of a folder of pictures with Dask: on a LocalCluster of this machine, or with
the same code on a cluster whose scheduler is named. bmpface reads every picture (any format it
reads, upright by its EXIF orientation) and writes each face as a PNG file.

    python3 examples/crop_folder_dask.py PHOTOS FACES [--scheduler tcp://HOST:8786]

On a cluster every worker must see PHOTOS and FACES at the same paths (a shared file system) and
have bmpface installed. A picture keeps its place below the folder: PHOTOS/2019/a.jpg gives
FACES/2019/a.png, written to a temporary file and renamed when whole. A picture that cannot be
read (corrupt, truncated, too large) is named and counted, and the others go on. Prints a
summary. Exit status: 0 when every picture was read, 1 otherwise.
"""
import argparse
import os
import pathlib
import sys
import tempfile

from dask.distributed import Client, LocalCluster

import bmpface

SUFFIXES = {".bmp", ".jpg", ".jpeg", ".png", ".tif", ".tiff", ".webp", ".gif", ".heic", ".avif"}


def crop(source, target):
    """Writes the face of the picture `source` as the PNG file `target`. Runs on a worker; returns
    "cropped", "no face" or the reason the picture could not be read or written."""
    target.parent.mkdir(parents=True, exist_ok=True)
    handle, temporary = tempfile.mkstemp(prefix="." + target.stem, suffix=".png", dir=target.parent)
    os.close(handle)
    try:
        if bmpface.extract(source, temporary) is None:
            return "no face"
        os.replace(temporary, target)
        return "cropped"
    except (bmpface.Error, MemoryError) as error:
        return str(error) or type(error).__name__
    finally:
        if os.path.exists(temporary):
            os.remove(temporary)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("photos", type=pathlib.Path)
    parser.add_argument("faces", type=pathlib.Path)
    parser.add_argument("--scheduler", help="address of a running Dask scheduler")
    args = parser.parse_args()

    sources = sorted(p for p in args.photos.rglob("*")
                     if p.suffix.lower() in SUFFIXES and p.is_file())
    targets = [(args.faces / p.relative_to(args.photos)).with_suffix(".png") for p in sources]
    # bmpface releases the interpreter lock, so a local worker's threads use every core.
    cluster = None if args.scheduler else LocalCluster(processes=False, dashboard_address=None)
    with Client(args.scheduler or cluster) as client:
        outcomes = client.gather(client.map(crop, sources, targets))
    if cluster is not None:
        cluster.close()
    unread = 0
    for source, outcome in zip(sources, outcomes):
        if outcome != "cropped":
            unread += outcome != "no face"
            print(f"{source}: {outcome}")
    cropped = outcomes.count("cropped")
    print(f"{cropped} cropped, {len(sources) - cropped - unread} without a face, "
          f"{unread} unreadable")
    return 1 if unread else 0


if __name__ == "__main__":
    sys.exit(main())
