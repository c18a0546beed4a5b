#!/bin/sh
# The bmpface command holds exactly one copy of the core: it needs no bmpface shared library, and
# each core function is defined once in it (the request function among them).
# Usage: one_core_test.sh NM READELF BMPFACE
nm=$1 readelf=$2 program=$3
if "$readelf" -d "$program" | grep NEEDED | grep -q bmpface; then
  echo "$program loads a bmpface library beside its own core" >&2
  exit 1
fi
defined=$("$nm" -C --defined-only "$program" | awk '$2 ~ /^[TtWw]$/ { $1 = ""; $2 = ""; print }' |
  grep '^  bmpface::[A-Z]' | sort)
twice=$(printf '%s\n' "$defined" | uniq -d)
for f in RunRequest DetectFace FindFaceRect GrowRegion LoadBMP SaveBMP ExtractFaceRegion; do
  printf '%s\n' "$defined" | grep -q "bmpface::$f(" || { echo "no $f in $program" >&2; exit 1; }
done
[ -z "$twice" ] && exit 0
printf 'defined more than once in %s:\n%s\n' "$program" "$twice" >&2
exit 1
