#!/bin/sh
# Checks that the OpenCV program finds the same face rectangle as bmpface.
#   check_opencv_face.sh BMPFACE OPENCV_FACE [PICTURE...]
# Without pictures it makes the benchmark set and the synthetic check pictures (regions that tie
# on score, touch at corners or sit at the candidate test's limits, colours at the skin rule's
# bounds; bench/make_pictures.py --with-checks) in a temporary folder. It also checks that
# OpenCV's labeller numbers regions in the scan order of their first pixels; the OpenCV program
# settles ties without relying on that, since OpenCV does not document it.
set -eu
if [ $# -lt 2 ]; then
  echo "usage: check_opencv_face.sh BMPFACE OPENCV_FACE [PICTURE...]" >&2
  exit 64
fi
bmpface=$1
opencv_face=$2
shift 2
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

if [ $# -eq 0 ]; then
  /usr/bin/python3 "$here/make_pictures.py" --with-checks "$work/pictures" >/dev/null
  set -- "$work"/pictures/*.bmp
fi

status=0
for picture in "$@"; do
  ours=$("$bmpface" --detect "$picture" | sed 's/^.*: //') || true
  theirs=$("$opencv_face" "$picture" "$work/out.bmp" 2>/dev/null) || true
  if [ "$ours" = "$theirs" ]; then
    echo "same   $(basename "$picture"): $ours"
  else
    echo "DIFFER $(basename "$picture"): bmpface '$ours', OpenCV '$theirs'"
    status=1
  fi
done
"$opencv_face" --label-order "$@" | sed 's|^.*/||' | sed 's/^/labels /' || status=1
exit $status
