#!/bin/sh
# The command under hostile conditions: planted links and FIFOs, racing batches, failed renames,
# interrupted runs, odd names and lists, reports that must keep every fact, and inputs that must
# never be written over or waited on.
# Usage: batch_safety_test.sh BMPFACE SAMPLE_BMP PYTHON3
set -u
bmpface=$1 sample=$2 python=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL $*" >&2; failures=$((failures + 1)); }
# run SECONDS ARGS...: bmpface with a deadline (a blocked open would otherwise hang the test).
run() { limit=$1; shift; timeout "$limit" "$bmpface" "$@" >"$work/stdout" 2>"$work/stderr"; }
temps() { find "$@" -name '*.bmpface-tmp' | wc -l; }

# Two pictures with faces in different places, so their crops differ, and one without a face.
"$python" - "$work" <<'PY'
import sys
from PIL import Image
work = sys.argv[1]
# Large enough that two writers of one file overlap in time.
for name, box in (("left", (50, 100, 650, 800)), ("right", (700, 150, 1400, 900))):
    picture = Image.new("RGB", (1600, 1200), (10, 20, 30))
    picture.paste((200, 90, 60), box)
    picture.save(f"{work}/{name}.bmp")
PY
mkdir -p "$work/a" "$work/b" "$work/in"
cp "$work/left.bmp" "$work/a/x.bmp"
cp "$work/right.bmp" "$work/b/x.bmp"
cp "$sample" "$work/in/face.bmp"
{ head -c 54 "$sample"; head -c 921600 /dev/zero; } >"$work/in/black.bmp"
"$bmpface" "$work/left.bmp" "$work/left-crop.bmp" 2>/dev/null
"$bmpface" "$work/right.bmp" "$work/right-crop.bmp" 2>/dev/null
"$bmpface" "$sample" "$work/face-crop.bmp" 2>/dev/null

# A link and a FIFO planted where the old fixed temporary name was: no effect on their targets,
# no waiting.
mkdir -p "$work/o1"
echo victim >"$work/victim"
ln -s "$work/victim" "$work/o1/.face.bmp.part"
mkfifo "$work/o1/.black.bmp.part"
run 20 batch "$work/in" -o "$work/o1" --reject "$work/o1" --no-progress
[ $? -eq 0 ] || fail "planted names: exit status $(cat "$work/stderr")"
[ "$(cat "$work/victim")" = victim ] || fail "planted link: its target was written"
cmp -s "$work/o1/face.bmp" "$work/face-crop.bmp" || fail "planted names: crop"

# Two batches racing into one folder, 20 rounds: the output is always one whole crop, and every
# report line is true of its own picture. (Two processes: ThreadSanitizer sees nothing of it, so a
# build under it, slow as it is, leaves this to the others.)
json_rect() {
  "$bmpface" --detect "$1" |
    awk '{ printf "\"x\":%s,\"y\":%s,\"width\":%s,\"height\":%s", $2, $3, $4, $5 }'
}
left=$(json_rect "$work/left.bmp") right=$(json_rect "$work/right.bmp")
rounds=20
grep -q -a __tsan_init "$bmpface" && rounds=0
round=0
while [ $round -lt $rounds ]; do
  "$bmpface" batch "$work/a/x.bmp" -o "$work/race" --report "$work/ra" --no-progress \
    >/dev/null 2>&1 &
  "$bmpface" batch "$work/b/x.bmp" -o "$work/race" --report "$work/rb" --no-progress \
    >/dev/null 2>&1
  wait
  { cmp -s "$work/race/x.bmp" "$work/left-crop.bmp" ||
      cmp -s "$work/race/x.bmp" "$work/right-crop.bmp"; } ||
    fail "race round $round: the output is neither crop"
  grep -q "\"status\":\"done\",$left," "$work/ra" &&
    grep -q "\"status\":\"done\",$right," "$work/rb" ||
    fail "race round $round: $(cat "$work/ra" "$work/rb")"
  round=$((round + 1))
done
[ "$(temps "$work/race")" -eq 0 ] || fail "race: temporary files left"

# A folder where the crop should go: the failed rename is a failure, and --resume tries again.
mkdir -p "$work/o2/face.bmp"
run 20 batch "$work/in/face.bmp" -o "$work/o2" --report "$work/r2" --no-progress
[ $? -eq 1 ] && grep -q '"status":"save_failed"' "$work/r2" ||
  fail "failed rename: $(cat "$work/r2")"
run 20 batch "$work/in/face.bmp" -o "$work/o2" --report "$work/r2" --resume --no-progress
grep -q '"status":"skipped"' "$work/r2" && fail "failed rename: --resume skipped it"
[ "$(temps "$work/o2")" -eq 0 ] || fail "failed rename: temporary file left"

# A killed run's temporary file is removed by the next run; someone else's dot file is not.
mkdir -p "$work/o3"
touch -d '2 hours ago' "$work/o3/.face.bmp.0123456789ab.bmpface-tmp"
touch -d '2 hours ago' "$work/o3/.face.bmp.keep"
run 20 batch "$work/in/face.bmp" -o "$work/o3" --no-progress
[ "$(temps "$work/o3")" -eq 0 ] && [ -e "$work/o3/.face.bmp.keep" ] || fail "stale temporary files"

# --resume appends to the report, and a skipped crop keeps its rectangle (from the earlier line,
# and by detecting again when the earlier report is elsewhere).
run 20 batch "$work/in" -o "$work/o4" --report "$work/r4" --no-progress
run 20 batch "$work/in" -o "$work/o4" --report "$work/r4" --resume --no-progress
run 20 batch "$work/in" -o "$work/o4" --report "$work/r4b" --resume --no-progress
rect='"x":72,"y":0,"width":332,"height":369'
[ "$(wc -l <"$work/r4")" -eq 4 ] &&
  [ "$(grep -c "\"status\":\"skipped\",$rect" "$work/r4")" -eq 1 ] &&
  grep -q "\"status\":\"skipped\",$rect" "$work/r4b" ||
  fail "resume report: $(cat "$work/r4" "$work/r4b")"

# The report may be no input and no output.
for report in "$work/in/face.bmp" "$work/o5/face.bmp"; do
  run 20 batch "$work/in" -o "$work/o5" --report "$report" --no-progress
  [ $? -eq 64 ] || fail "report $report accepted"
done
cmp -s "$work/in/face.bmp" "$sample" || fail "the report replaced an input"

# A list line with a NUL is refused whole (it used to write a's face under b's name); -0 lists
# work; --base keeps two roots' layouts apart.
mkdir -p "$work/box1" "$work/box2"
cp "$sample" "$work/box1/IMG_0001.bmp"
cp "$work/left.bmp" "$work/box2/IMG_0001.bmp"
printf '%s\0b.bmp\n' "$work/box1/IMG_0001.bmp" >"$work/list"
run 20 batch --from "$work/list" -o "$work/o6" --report "$work/r6" --no-progress
[ $? -eq 1 ] && [ ! -e "$work/o6/b.bmp" ] && grep -q '"status":"refused"' "$work/r6" ||
  fail "NUL in a line"
(cd "$work" && find box1 box2 -name '*.bmp' -print0 | sort -z) >"$work/list0"
(cd "$work" && run 20 batch --from list0 -0 --base . -o o7 --no-progress)
cmp -s "$work/o7/box1/IMG_0001.bmp" "$work/face-crop.bmp" &&
  cmp -s "$work/o7/box2/IMG_0001.bmp" "$work/left-crop.bmp" ||
  fail "-0 --base: $(cat "$work/stderr")"

# Names that are not UTF-8: every mode opens them byte for byte, and every JSON line is valid for a
# strict parser, with the exact bytes recoverable.
odd=$(printf 'caf\351 "q".bmp')
cp "$sample" "$work/in/$odd"
run 20 "$work/in/$odd" "$work/odd-crop.bmp" && cmp -s "$work/odd-crop.bmp" "$work/face-crop.bmp" ||
  fail "single mode, non-UTF-8 name"
run 20 --detect --json "$work/in/$odd"
cp "$work/stdout" "$work/detect.json"
run 20 batch "$work/in" -o "$work/o8" --report "$work/r8" --no-progress
"$python" - "$work/r8" "$work/detect.json" "$work/in/$odd" <<'PY' || fail "JSON of odd names"
import json, os, sys
want = os.fsencode(sys.argv[3])
found = 0
for name in sys.argv[1:3]:
    for line in open(name, "rb"):
        record = json.loads(line.decode("utf-8"), strict=True)
        for key, value in record.items():
            if isinstance(value, str):
                value.encode("utf-8")  # no lone surrogates
        if "path_hex" in record:
            found += bytes.fromhex(record["path_hex"]) == want
sys.exit(0 if found == 2 else 1)
PY

# Single mode: never its own input without --overwrite; reasons on standard error.
cp "$sample" "$work/self.bmp"
run 20 "$work/self.bmp" "$work/self.bmp"
[ $? -eq 64 ] && cmp -s "$work/self.bmp" "$sample" || fail "single mode replaced its input"
run 20 --overwrite "$work/self.bmp" "$work/self.bmp"
[ $? -eq 0 ] && cmp -s "$work/self.bmp" "$work/face-crop.bmp" || fail "--overwrite"
run 20 "$work/absent.bmp" "$work/x.bmp"
grep -q "absent.bmp: No such file or directory" "$work/stderr" ||
  fail "reason: $(cat "$work/stderr")"

# explain: never over its own input without --overwrite; odd names; out of memory is exit 3 and
# a message, never an abort (not under a sanitizer, which needs address space of its own); a drawing
# too wide for a format is written in another or refused with the reason.
run 20 explain "$work/self.bmp" "$work/self.bmp"
[ $? -eq 64 ] && cmp -s "$work/self.bmp" "$work/face-crop.bmp" || fail "explain replaced its input"
run 20 explain "$work/in/$odd" "$work/odd.png" &&
  LC_ALL=C grep -q ': face 72 0 332 369$' "$work/stdout" ||
  fail "explain, non-UTF-8 name: $(cat "$work/stdout" "$work/stderr")"
save_wide="Image.new('RGB', (70000, 2), (200, 90, 60)).save('$work/wide.bmp')"
"$python" -c "from PIL import Image; $save_wide"
if ! grep -q -a -E '__(asan|tsan)_init' "$bmpface"; then
  # A 12-megapixel drawing does not fit in 100 MB beside its picture.
  save_big="Image.new('RGB', (4000, 3000), (200, 90, 60)).save('$work/big.bmp')"
  "$python" -c "from PIL import Image; $save_big"
  (ulimit -v 100000 && run 20 explain "$work/big.bmp" "$work/oom.bmp")
  [ $? -eq 3 ] && grep -q "out of memory" "$work/stderr" ||
    fail "explain without memory: $(cat "$work/stderr")"
  rm -f "$work/big.bmp"
fi
run 60 explain "$work/wide.bmp" "$work/wide.png"
[ $? -eq 0 ] && [ -s "$work/wide.png" ] || fail "explain of a wide picture: $(cat "$work/stderr")"
# Its legend's letters grow with the short side too, not with the 70000 pixels alone.
tall=$("$python" -c "from PIL import Image; print(Image.open('$work/wide.png').height)")
[ "$tall" -lt 100 ] || fail "explain of a wide picture: a drawing $tall pixels tall"
run 60 explain "$work/wide.bmp" "$work/wide.jpg"
[ $? -eq 4 ] && grep -q "65500" "$work/stderr" ||
  fail "explain, too wide for JPEG: $(cat "$work/stderr")"

# A FIFO or a device named as input is refused at once in every mode.
mkfifo "$work/fifo.bmp"
for mode in single detect batch explain; do
  case $mode in
    single) run 10 "$work/fifo.bmp" "$work/x.bmp" ;;
    detect) run 10 --detect "$work/fifo.bmp" ;;
    batch) run 10 batch "$work/fifo.bmp" /dev/zero -o "$work/o9" --no-progress ;;
    explain) run 10 explain "$work/fifo.bmp" "$work/x.png" ;;
  esac
  status=$?
  [ $status -ne 124 ] && [ $status -ne 0 ] || fail "FIFO input, $mode: exit $status"
done

# Odd command lines.
run 10 batch "$work/in" --out ""
[ $? -eq 64 ] || fail '--out ""'
run 20 batch "$work/in/face.bmp" -o "$work/o10" --no-progress
grep -q '^bmpface batch: 1 picture: ' "$work/stdout" || fail "1 picture: $(cat "$work/stdout")"

# An output folder that cannot be written is found before the first picture.
mkdir -p "$work/deep/sub" "$work/o11"
cp "$sample" "$work/deep/a.bmp"
cp "$sample" "$work/deep/sub/b.bmp"
echo file >"$work/o11/sub"
run 20 batch "$work/deep" -o "$work/o11" --no-progress
[ $? -eq 73 ] && [ ! -e "$work/o11/a.bmp" ] || fail "unwritable folder: $(cat "$work/stderr")"

# A sparse picture without a face stays sparse in the reject folder: a hard link here, and a copy
# that keeps its holes on another file system.
{
  head -c 54 "$sample" | head -c 18
  printf '\240\017\0\0\270\013\0\0' # width 4000, height 3000
  head -c 54 "$sample" | tail -c 28
} >"$work/in2.bmp"
mkdir -p "$work/sparse"
cp "$work/in2.bmp" "$work/sparse/big.bmp"
truncate -s 36000054 "$work/sparse/big.bmp"
for rejects in "$work/rej" /dev/shm/bmpface-rej-$$; do
  [ -d "$(dirname "$rejects")" ] || continue
  run 60 batch "$work/sparse" -o "$work/o12" --reject "$rejects" --no-progress
  [ "$(du -k "$rejects/big.bmp" | cut -f1)" -lt 1024 ] || fail "sparse reject copy in $rejects"
  cmp -s "$rejects/big.bmp" "$work/sparse/big.bmp" || fail "reject copy in $rejects differs"
  rm -rf "$rejects"
done

# SIGINT: the pictures in hand finish, the summary says so and how to go on, no temporary file
# stays, exit 130.
mkdir -p "$work/many"
i=0
while [ $i -lt 3000 ]; do ln "$work/face-crop.bmp" "$work/many/$i.bmp"; i=$((i + 1)); done
"$bmpface" batch "$work/many" -o "$work/o13" --report "$work/r13" -j 2 --no-progress \
  >"$work/stdout" 2>"$work/stderr" &
pid=$!
while [ ! -s "$work/r13" ]; do sleep 0.01; done
kill -INT $pid
wait $pid
status=$?
lines=$(wc -l <"$work/r13")
[ $status -eq 130 ] && [ "$lines" -lt 3000 ] &&
  grep -q 'interrupted by SIGINT.*--resume' "$work/stdout" ||
  fail "SIGINT: exit $status after $lines pictures: $(cat "$work/stdout")"
[ "$(temps "$work/o13")" -eq 0 ] || fail "SIGINT: temporary files left"

[ "$failures" -eq 0 ]
