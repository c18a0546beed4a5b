#!/usr/bin/env python3
"""Crops the face of every picture below a folder into another folder, on all cores:
bmpface.crop_folder runs a thread pool from concurrent.futures, and bmpface releases the
interpreter lock while it works, so the threads really run at once.

    python3 examples/crop_folder_futures.py PHOTOS FACES [-j N] [--resume]

Every format bmpface reads is found (BMP, and with libvips JPEG, PNG, WebP, TIFF, GIF, HEIF),
turned upright by its EXIF orientation, and cropped in its own format at its place below the
folder: PHOTOS/2019/a.jpg gives FACES/2019/a.jpg. Each crop is written to a temporary file and
renamed when whole, so an interrupted run leaves no partial crop; --resume then skips the
pictures already done. A picture that fails is named on standard error and counted; the others go
on. Prints a summary; exit status 1 when a picture failed (a picture without a face has not).
"""
import argparse
import sys

import bmpface


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("photos")
    parser.add_argument("faces")
    parser.add_argument("-j", "--jobs", type=int)
    parser.add_argument("--resume", action="store_true")
    args = parser.parse_args()
    summary = bmpface.crop_folder(args.photos, args.faces, jobs=args.jobs, resume=args.resume)
    print(summary)
    return 1 if summary.failed else 0


if __name__ == "__main__":
    sys.exit(main())
