#!/usr/bin/env bash
# End-to-end measurements of whole requests, next to the floor (reading the file into fresh
# memory and touching every byte) and to the same request written with OpenCV:
#   - checks that the OpenCV program finds the same rectangle as bmpface on every picture;
#   - in process (Google Benchmark, bmpface_e2e_bench): floor (also on huge pages),
#     BMPFaceExtract, OpenCV pipeline;
#   - as whole processes (hyperfine): bmpface IN OUT, readfloor IN, opencv_face IN OUT, on the
#     12 MP 24-bit picture and the sample, and all three on a tiny picture (start-up cost);
#   - peak memory (GNU time's maximum resident set) and minor page faults of bmpface IN OUT on
#     every picture, with the sizes of the picture and of its crop;
#   - the price of fresh memory that day (faultcost), before and after.
# Prints a summary table and leaves JSON, markdown and the table in the results folder.
#
#   bench/e2e.sh [PICTURE_DIR]      (default: BUILD_DIR/pictures, made if missing)
#
# Environment: BUILD_DIR (default build-e2e), RESULTS (default BUILD_DIR/e2e-results),
# RUNS (hyperfine runs per command, default 30, at least 20), JOBS (build jobs, default 2),
# TIMED (pictures timed as whole processes, default "4000x3000-24 512x600-24").
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
bmpface_ensure_packages libbenchmark-dev hyperfine time
# OpenCV is optional: installed when running as root, otherwise compared only when present.
if ! dpkg-query -W -f='${Status}' libopencv-dev 2>/dev/null | grep -q 'ok installed'; then
  if [ "$(id -u)" -eq 0 ]; then
    bmpface_ensure_packages libopencv-dev
  else
    echo "e2e.sh: libopencv-dev is not installed; measuring without the OpenCV comparison" >&2
  fi
fi

build=${BUILD_DIR:-build-e2e}
pictures=${1:-$build/pictures}
results=${RESULTS:-$build/e2e-results}
runs=${RUNS:-30}
jobs=${JOBS:-2}
timed=${TIMED:-"4000x3000-24 512x600-24"}
[ "$runs" -ge 20 ] || { echo "e2e.sh: RUNS must be at least 20" >&2; exit 64; }

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DBMPFACE_BUILD_BENCH=ON \
  -DBMPFACE_BUILD_TESTS=OFF -DBMPFACE_BUILD_TOOLS=ON >/dev/null
cmake --build "$build" -j "$jobs"
bmpface=$build/tools/bmpface
readfloor=$build/bench/readfloor
opencv=$build/bench/opencv_face
[ -x "$opencv" ] || opencv=

/usr/bin/python3 bench/make_pictures.py "$pictures" >/dev/null
mkdir -p "$results"
rm -f "$results"/*.json "$results"/*.md "$results"/*.tsv "$results"/*.txt
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
# A tiny picture with a face, for the cost of starting each program.
/usr/bin/python3 -c '
import sys
from PIL import Image, ImageDraw
image = Image.new("RGB", (64, 64), (60, 120, 90))
ImageDraw.Draw(image).rectangle([10, 10, 45, 45], fill=(200, 150, 120))
image.save(sys.argv[1])' "$scratch/tiny.bmp"

all=("$pictures"/hopper-512x600-24.bmp "$pictures"/hopper-512x600-32.bmp
     "$pictures"/hopper-1920x1080-24.bmp "$pictures"/hopper-1920x1080-32.bmp
     "$pictures"/hopper-4000x3000-24.bmp "$pictures"/hopper-4000x3000-32.bmp)

{
  echo "date: $(date -u '+%Y-%m-%d %H:%M UTC')"
  if git rev-parse --git-dir >/dev/null 2>&1; then
    dirty=$(git diff --quiet HEAD -- src include ||
      echo ' + uncommitted changes in src/ or include/')
    echo "commit: $(git rev-parse --short HEAD)$dirty"
  fi
  echo "cpu: $(grep -m1 'model name' /proc/cpuinfo | sed 's/.*: //') ($(nproc) cores)"
  thp=/sys/kernel/mm/transparent_hugepage/enabled
  echo "transparent huge pages: $(cat $thp 2>/dev/null || echo unknown)"
  echo "load before: $(uptime | sed 's/.*load average: //')"
  echo "price of fresh memory: $("$build/bench/faultcost")"
} >"$results/meta.txt"

if [ -n "$opencv" ]; then
  echo "== same rectangle from OpenCV as from bmpface"
  sh bench/check_opencv_face.sh "$bmpface" "$opencv" "${all[@]}" | tee "$results/check.txt"
fi

echo "== in process (Google Benchmark, median of 5)"
"$build/bench/bmpface_e2e_bench" --benchmark_repetitions=5 --benchmark_report_aggregates_only=true \
  --benchmark_out="$results/inprocess.json" --benchmark_out_format=json "${all[@]}"

echo "== whole processes (hyperfine, $runs runs after 3 warm-ups)"
hyper() {  # NAME PICTURE
  local commands=(-n bmpface "$bmpface $2 $scratch/ours.bmp" -n floor "$readfloor $2")
  # For reference only: the floor with the huge pages bmpface asks for its large blocks.
  [ "$1" = startup ] || commands+=(-n floor-huge "$readfloor --huge $2")
  [ -z "$opencv" ] || commands+=(-n opencv "$opencv $2 $scratch/opencv.bmp")
  # Each run writes a new output file, as a real crop does; replacing the previous run's output
  # would add the file system's truncation to both programs.
  hyperfine -N --warmup 3 --runs "$runs" --style basic --export-json "$results/hf-$1.json" \
    --prepare "rm -f $scratch/ours.bmp $scratch/opencv.bmp" \
    --export-markdown "$results/hf-$1.md" "${commands[@]}"
}
for name in $timed; do hyper "$name" "$pictures/hopper-$name.bmp"; done
hyper startup "$scratch/tiny.bmp"

echo "== peak memory (maximum resident set, KiB) and minor page faults; median of 3"
peak() {  # prints "KIB<tab>FAULTS" of the run with the median resident set, of 3 runs
  for _ in 1 2 3; do
    /usr/bin/time -f '%M\t%R' "$@" 2>&1 >/dev/null | tail -1
  done | sort -n | sed -n 2p
}
printf 'picture\tbmpface_kib\tbmpface_faults\topencv_kib\topencv_faults\tfile_bytes\tcrop_bytes\n' \
  >"$results/memory.tsv"
for picture in "$scratch/tiny.bmp" "${all[@]}"; do
  rm -f "$scratch/ours.bmp"
  ours=$(peak "$bmpface" "$picture" "$scratch/ours.bmp")
  sizes=$(printf '%s\t%s' "$(stat -c %s "$picture")" \
    "$(stat -c %s "$scratch/ours.bmp" 2>/dev/null || echo 0)")
  theirs=$(printf -- '-\t-')
  [ -z "$opencv" ] || theirs=$(peak "$opencv" "$picture" "$scratch/opencv.bmp")
  name=$(basename "$picture" .bmp)
  [ "$picture" != "$scratch/tiny.bmp" ] || name=startup
  printf '%s\t%s\t%s\t%s\n' "$name" "$ours" "$theirs" "$sizes" | tee -a "$results/memory.tsv"
done

{
  echo "load after: $(uptime | sed 's/.*load average: //')"
  echo "price of fresh memory after: $("$build/bench/faultcost")"
} >>"$results/meta.txt"
/usr/bin/python3 bench/e2e_summary.py "$results" "$pictures" | tee "$results/summary.md"
