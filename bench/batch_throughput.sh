#!/usr/bin/env bash
# Pictures per second of `bmpface batch` on copies of the sample, with -j 1 and with -j 2: the wall
# time of the whole command (start, folder walk, crops, summary), best of three runs each, the runs
# of the two settings taken in turn so that a change in the machine's load touches both.
# Usage: bench/batch_throughput.sh [BMPFACE [COPIES]]   (default build/tools/bmpface, 1000)
# The copies and crops go below TMPDIR (default /tmp); TMPDIR=/dev/shm leaves the disk out.
set -euo pipefail
cd "$(dirname "$0")/.."
bmpface=${1:-build/tools/bmpface}
copies=${2:-1000}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

mkdir "$work/in"
for i in $(seq "$copies"); do cp examples/hopper.bmp "$work/in/$i.bmp"; done
cat "$work"/in/*.bmp >/dev/null  # in the page cache, as a second pass over a folder would find it
echo "folder: $work; cores: $(nproc); load before: $(cut -d' ' -f1-3 /proc/loadavg)"

# Prints the pictures per second of one run. Each run writes into a folder of its own and nothing
# is deleted until the end: on ext4 without a journal, creating files just after deleting as many
# makes every create step over the recently freed inodes, under the folder's lock, which would
# measure the file system rather than bmpface.
run() {  # run JOBS NAME
  local start end
  start=$(date +%s%N)
  "$bmpface" batch --no-progress -j "$1" "$work/in" -o "$work/out-$2" >/dev/null
  end=$(date +%s%N)
  awk -v n="$copies" -v ns=$((end - start)) 'BEGIN { printf "%.1f", n * 1e9 / ns }'
}

best1=0 best2=0
for round in 1 2 3; do
  r1=$(run 1 "$round-1")
  r2=$(run 2 "$round-2")
  printf 'round %d: -j 1 %s pictures/s, -j 2 %s pictures/s\n' "$round" "$r1" "$r2"
  best1=$(awk -v a="$r1" -v b="$best1" 'BEGIN { print (a > b ? a : b) }')
  best2=$(awk -v a="$r2" -v b="$best2" 'BEGIN { print (a > b ? a : b) }')
done
printf 'best: -j 1 %.1f pictures/s, -j 2 %.1f pictures/s, speed-up %.2f\n' "$best1" "$best2" \
  "$(awk -v a="$best2" -v b="$best1" 'BEGIN { print a / b }')"
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
