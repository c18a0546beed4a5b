#!/bin/sh
# --verify: the unverified outcome in every place it shows (exit status, words, JSON, batch report
# and --reject), and the refusal of --verify where the face detector's module is missing.
# Usage: verify_test.sh BMPFACE SAMPLE_BMP PYTHON3
set -u
bmpface=$1 sample=$2 python3=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL $*" >&2; failures=$((failures + 1)); }

# A program without the module beside it (nor installed): --verify is a command-line error that
# says why, also where this build has no face detector at all.
mkdir "$work/alone"
cp "$bmpface" "$work/alone/bmpface"
"$work/alone/bmpface" --detect --verify "$sample" >"$work/out" 2>"$work/err"
[ $? -eq 64 ] && grep -q "face detector" "$work/err" || fail "module missing: $(cat "$work/err")"
if [ ! -f "$(dirname "$bmpface")/bmpface-verify.so" ]; then
  [ $failures -eq 0 ] && echo "verify: refused without the module (this build has none)"
  exit $failures
fi

# A skin-coloured block on black: a region the rule takes for a face, with no face in it.
"$python3" - "$work/block.bmp" <<'PY'
import struct, sys
w, h = 200, 160
row = bytearray()
for y in range(h):
    for x in range(w):
        row += bytes((60, 90, 200)) if 60 <= x < 140 and 20 <= y < 110 else b"\0\0\0"
size = 54 + len(row)
header = b"BM" + struct.pack("<IHHI", size, 0, 0, 54)
header += struct.pack("<IiiHHIIiiII", 40, w, -h, 1, 24, 0, len(row), 2835, 2835, 0, 0)
open(sys.argv[1], "wb").write(header + row)
PY

"$bmpface" --detect --verify "$work/block.bmp" >"$work/out" 2>"$work/err"
[ $? -eq 5 ] && grep -q "unverified" "$work/out" || fail "detect: $(cat "$work/out" "$work/err")"
"$bmpface" --detect --json --verify "$work/block.bmp" >"$work/out"
grep -q '"status":"unverified",.*"verified":false}$' "$work/out" || fail "json: $(cat "$work/out")"
"$bmpface" --verify "$work/block.bmp" "$work/crop.bmp" >"$work/out" 2>"$work/err"
[ $? -eq 5 ] && [ ! -e "$work/crop.bmp" ] && grep -q "unverified" "$work/err" ||
  fail "crop: $(cat "$work/err")"
# Without --verify the rule's answer is unchanged.
"$bmpface" --detect "$work/block.bmp" >/dev/null || fail "the rule alone found no face"

# The sample's face is confirmed; --frame face crops the detector's box, region the region's.
"$bmpface" --detect --json --verify "$sample" >"$work/out"
grep -q '"status":"face",.*"verified":true,"face":{' "$work/out" ||
  fail "sample: $(cat "$work/out")"
n='\([0-9]*\)'
box="\"face\":{\"x\":$n,\"y\":$n,\"width\":$n,\"height\":$n}"
face=$(sed "s/.*$box.*/\\1 \\2 \\3 \\4/" "$work/out")
[ "$("$bmpface" --detect --verify --frame face "$sample")" = "$sample: $face" ] ||
  fail "frame face: not $face"
[ "$("$bmpface" --detect --frame region "$sample")" = "$sample: 99 0 277 410" ] ||
  fail "frame region"

# Batch: unverified is its own word, not a failure, and goes to --reject.
mkdir "$work/in"
cp "$sample" "$work/in/face.bmp"
cp "$work/block.bmp" "$work/in/block.bmp"
"$bmpface" batch "$work/in" -o "$work/out.d" --reject "$work/rej" --verify --report "$work/r" \
  >"$work/summary" 2>/dev/null
[ $? -eq 0 ] || fail "batch exit status"
grep -q '^bmpface batch: 2 pictures: 1 done, 0 no face, 1 unverified, 0 failed' "$work/summary" ||
  fail "batch summary: $(cat "$work/summary")"
grep -q '"status":"unverified",.*"verified":false,"output":"'"$work"'/rej/block.bmp"}' "$work/r" &&
  cmp -s "$work/block.bmp" "$work/rej/block.bmp" && [ -f "$work/out.d/face.bmp" ] ||
  fail "batch: $(cat "$work/r")"

[ $failures -eq 0 ] && echo "verify: all checks passed"
exit $failures
