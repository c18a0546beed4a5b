#!/bin/sh
# The bmpface command: exit statuses, what it prints, and where.
# Usage: cli_test.sh BMPFACE SAMPLE_BMP
set -u
bmpface=$1 sample=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL $*" >&2; failures=$((failures + 1)); }

# expect NAME STATUS STDOUT STDERR ARGS...: exact exit status and standard output; standard error
# must match the grep pattern STDERR, or be empty when STDERR is "".
expect() {
  name=$1 status=$2 out=$3 err=$4
  shift 4
  "$bmpface" "$@" >"$work/out" 2>"$work/err"
  got=$?
  [ "$got" -eq "$status" ] || fail "$name: exit $got, expected $status"
  [ "$(cat "$work/out")" = "$out" ] || fail "$name: stdout [$(cat "$work/out")], expected [$out]"
  if [ -z "$err" ]; then [ ! -s "$work/err" ]; else grep -q -- "$err" "$work/err"; fi ||
    fail "$name: stderr [$(cat "$work/err")]"
}

# A black picture of the sample's size: no skin at all.
{ head -c 54 "$sample"; head -c 921600 /dev/zero; } >"$work/black.bmp"
# The chosen region's facts follow the rectangle: how sure the choice was.
facts='"region":{"x":99,"y":0,"width":277,"height":410,"pixels":47234,"fill":0.4159,'
facts=$facts'"score":31174.44,"runner_up":444.1417},"candidates":2,"skin_share":0.1937'
json='{"path":"'$sample'","status":"face","x":72,"y":0,"width":332,"height":369,'$facts'}'

expect crop 0 "" "face written to" "$sample" "$work/face.bmp"
# 332 x 369, 24-bit: 54 header bytes and 369 rows of 996 bytes.
[ "$(wc -c 2>/dev/null <"$work/face.bmp")" = 367578 ] || fail "crop: output size"
expect detect 0 "$sample: 72 0 332 369" "" --detect "$sample"
expect json 0 "$json" "" --detect "$sample" --json
expect "detect, no face" 2 "$work/black.bmp: no face" "" --detect "$work/black.bmp"
expect "missing input" 1 "" "$work/absent.bmp" "$work/absent.bmp" "$work/x.bmp"
expect "no face" 2 "Error: No face detected in image" "" "$work/black.bmp" "$work/x.bmp"
# --margin: plain decimal numbers only; --frame face needs the detector's face.
for bad in nan inf 5abc 1,2; do
  expect "margin $bad" 64 "" "not a number\|one share or four" --detect --margin "$bad" "$sample"
done
expect "margin sides" 0 "$sample: 72 0 332 369" "" --detect --margin 0,0,0.5,0 --margin-bottom 0 \
  "$sample"
expect "frame face alone" 64 "" "needs --verify" --detect --frame face "$sample"
[ ! -e "$work/x.bmp" ] || fail "no face: output created"
expect "unwritable output" 4 "Error: Failed to save output file" "no/x.bmp: No such file" \
  "$sample" "$work/no/x.bmp"
expect "no arguments" 64 "" .
expect "json without detect" 64 "" . --json "$sample" "$work/x.bmp"
expect "unknown option" 64 "" . --frobnicate "$sample" "$work/x.bmp"
{ "$bmpface" --help >"$work/out" && grep -q -- --detect "$work/out"; } || fail "--help"
{ "$bmpface" --version >"$work/out" && grep -q "^bmpface [0-9]" "$work/out"; } || fail "--version"
[ "$failures" -eq 0 ]
