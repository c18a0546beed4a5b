#!/bin/sh
# bmpface batch: crops, rejects, the report, resuming, failures among good pictures, inputs never
# overwritten, whole report lines from concurrent requests, and shards that together do every
# picture exactly once.
# Usage: batch_test.sh BMPFACE SAMPLE_BMP
set -u
bmpface=$1 sample=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL $*" >&2; failures=$((failures + 1)); }
# has FILE LINE: FILE holds exactly this line.
has() { grep -qxF -- "$2" "$1" || fail "$1 lacks [$2]: $(cat "$1")"; }
batch() { "$bmpface" batch --no-progress "$@" >"$work/stdout" 2>"$work/stderr"; }

in=$work/in
mkdir -p "$in/sub"
cp "$sample" "$in/a.bmp"
cp "$sample" "$in/sub/b.bmp"
{ head -c 54 "$sample"; head -c 921600 /dev/zero; } >"$in/black.bmp"  # no skin: no face
printf 'BM, and nothing more' >"$in/broken.bmp"
"$bmpface" "$sample" "$work/expected.bmp" 2>/dev/null || fail "reference crop"

# A folder of good, faceless and broken pictures, and a missing one: the batch goes on.
batch "$in" "$work/missing.bmp" -o "$work/out" --reject "$work/rej" --report "$work/r1" -j 2
[ $? -eq 1 ] || fail "exit status with failures"
cmp -s "$work/expected.bmp" "$work/out/a.bmp" || fail "crop of a.bmp"
cmp -s "$work/expected.bmp" "$work/out/sub/b.bmp" || fail "crop of sub/b.bmp keeps its folder"
cmp -s "$in/black.bmp" "$work/rej/black.bmp" || fail "reject copy"
[ "$(find "$work/out" "$work/rej" -type f | wc -l)" -eq 3 ] || fail "stray files"
[ "$(wc -l <"$work/r1")" -eq 5 ] || fail "report lines"
rect='"x":72,"y":0,"width":332,"height":369,"region":{"x":99,"y":0,"width":277,"height":410,'
rect=$rect'"pixels":47234,"fill":0.4159,"score":31174.44,"runner_up":444.1417},"candidates":2,'
rect=$rect'"skin_share":0.1937'
nothing='"candidates":0,"skin_share":0'
has "$work/r1" '{"path":"'"$in"'/a.bmp","status":"done",'"$rect"',"output":"'"$work"'/out/a.bmp"}'
has "$work/r1" \
  '{"path":"'"$in"'/black.bmp","status":"no_face",'"$nothing"',"output":"'"$work"'/rej/black.bmp"}'
grep -q '^{"path":"'"$in"'/broken.bmp","status":"load_failed","output":null,"error":' "$work/r1" ||
  fail "report of a broken picture"
grep -q '^{"path":"'"$work"'/missing.bmp","status":"load_failed"' "$work/r1" ||
  fail "report of a missing picture"
grep -q "broken.bmp" "$work/stderr" && grep -q "missing.bmp" "$work/stderr" ||
  fail "failures named on stderr"
# Standard output: the summary alone (no anonymous library lines).
[ "$(wc -l <"$work/stdout")" -eq 1 ] || fail "stdout lines: $(cat "$work/stdout")"
grep -q '^bmpface batch: 5 pictures: 2 done, 1 no face, 2 failed, 0 skipped in ' "$work/stdout" ||
  fail "summary: $(cat "$work/stdout")"

# Resume: existing crops and reject copies are kept as they are; only the rest is done.
echo kept >"$work/out/a.bmp"
rm "$work/out/sub/b.bmp"
batch "$in" -o "$work/out" --reject "$work/rej" --resume --report "$work/r2"
[ $? -eq 1 ] || fail "resume: exit status (broken.bmp still fails)"
[ "$(cat "$work/out/a.bmp")" = kept ] || fail "resume: existing crop redone"
cmp -s "$work/expected.bmp" "$work/out/sub/b.bmp" || fail "resume: missing crop not done"
[ "$(grep -c '"status":"skipped"' "$work/r2")" -eq 2 ] || fail "resume: skipped $(cat "$work/r2")"
grep -q '^bmpface batch: 4 pictures: 1 done, 0 no face, 1 failed, 2 skipped' "$work/stdout" ||
  fail "resume: summary"

# Inputs are never overwritten, not even by an output folder that holds them; of two pictures with
# one output name only the first is done.
cp "$sample" "$work/keep.bmp"
batch "$in/a.bmp" -o "$in" --report "$work/r3"
[ $? -eq 1 ] || fail "overwrite: exit status"
cmp -s "$work/keep.bmp" "$in/a.bmp" || fail "an input was overwritten"
grep -q '"status":"refused"' "$work/r3" || fail "overwrite: $(cat "$work/r3")"
mkdir "$work/other"
cp "$in/black.bmp" "$work/other/a.bmp"
batch "$in/a.bmp" "$work/other/a.bmp" -o "$work/o3" --report "$work/r3"
cmp -s "$work/expected.bmp" "$work/o3/a.bmp" && grep -q '"status":"refused"' "$work/r3" ||
  fail "same name: $(cat "$work/r3")"

# Many requests at once, the report on standard output: only whole lines, the summary apart.
mkdir "$work/many"
for i in 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 19 20; do
  cp "$in/black.bmp" "$work/many/$i.bmp"
done
batch "$work/many" -o "$work/out4" -j 4 --report -
[ $? -eq 0 ] || fail "no face is not a failure"
lines='^{"path":"[^"]*","status":"no_face",'"$nothing"',"output":null}$'
[ "$(grep -c "$lines" "$work/stdout")" -eq 20 ] &&
  [ "$(wc -l <"$work/stdout")" -eq 20 ] && grep -q '^bmpface batch: 20 pictures' "$work/stderr" ||
  fail "concurrent lines: $(cat "$work/stdout")"

# Shards: three machines given the same list on standard input do every picture exactly once,
# and a shard run again takes the same pictures.
mkdir "$work/s"
for i in 1 2 3 4 5 6 7 8 9 10 11 12; do cp "$sample" "$work/s/p$i.bmp"; done
# Paths relative to the work folder, so that the shares do not hang on its random name.
(cd "$work" && ls s/*.bmp | sort) >"$work/list"
for k in 0 1 2; do
  (cd "$work" && batch --from - -o so --shard "$k/3" --report "shard$k" -j 1 <list) ||
    fail "shard $k"
  [ -s "$work/shard$k" ] || fail "shard $k is empty: a poor hash"
done
paths() { sed 's/^{"path":"\([^"]*\)".*/\1/' "$@" | sort; }
paths "$work"/shard? | cmp -s - "$work/list" || fail "shards: not every picture exactly once"
(cd "$work" && batch --from list -o so2 --shard 1/3 --report again)
[ "$(paths "$work/again")" = "$(paths "$work/shard1")" ] || fail "shards: not deterministic"
for bad in 3/3 1/0 x/2 1; do
  batch "$in" -o "$work/o" --shard "$bad"
  [ $? -eq 64 ] || fail "--shard $bad accepted"
done
[ "$failures" -eq 0 ]
