"""python3 -m bmpface PHOTOS FACES (also the command bmpface-folder): crop_folder from a shell."""
import argparse
import sys
from typing import List, Optional

from . import crop_folder


def main(argv: Optional[List[str]] = None) -> int:
    parser = argparse.ArgumentParser(prog="bmpface-folder",
                                     description="Crops the face of every picture below PHOTOS "
                                                 "into FACES, at the same place.")
    parser.add_argument("photos")
    parser.add_argument("faces")
    parser.add_argument("-j", "--jobs", type=int, help="threads (default: the cores)")
    parser.add_argument("--resume", action="store_true", help="skip pictures already cropped")
    parser.add_argument("--report", help="a JSON line per picture into this file")
    parser.add_argument("--format", help="bmp, jpg, png, webp, tif, gif, heic or avif")
    parser.add_argument("--margin", type=float, default=0.0)
    parser.add_argument("--aspect", help="W:H")
    parser.add_argument("--size", help="WxH")
    parser.add_argument("--no-orient", dest="orient", action="store_false")
    parser.add_argument("--no-progress", dest="progress", action="store_false", default=None)
    args = parser.parse_args(argv)
    summary = crop_folder(args.photos, args.faces, jobs=args.jobs, resume=args.resume,
                          report=args.report, progress=args.progress, format=args.format,
                          margin=args.margin, aspect=args.aspect, size=args.size,
                          orient=args.orient)
    print(summary)
    return 1 if summary.failed else 0


if __name__ == "__main__":
    sys.exit(main())
