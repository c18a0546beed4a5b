#!/usr/bin/env bash
# The shapes that broke the memory bound before the grids took a bit per pixel and the grower
# whole runs, as whole processes next to a photograph of the same pixel count:
#   - strips three pixels wide joined end to end, 4000 x 3000 and 8000 x 6000 (24-bit);
#   - a picture 1 pixel wide and 10,000,000 tall (24-bit, a sparse file);
# against the sample scaled to 4000 x 3000, 8000 x 6000 and 4000 x 2500. For each: the hyperfine
# median of the whole process, its ratio to the photograph (goal: at most 3), and the peak resident
# set less the start-up's against 1.6 x the pixel bytes + 2 bytes a pixel (goal: at most 1).
#
#   bench/shapes.sh [BMPFACE]      (default build/tools/bmpface)
#
# Environment: PICTURES (default build/shapes), RUNS (hyperfine runs, default 10).
set -euo pipefail
cd "$(dirname "$0")/.."
bmpface=${1:-build/tools/bmpface}
pictures=${PICTURES:-build/shapes}
runs=${RUNS:-10}
/usr/bin/python3 bench/make_shapes.py "$pictures" >/dev/null
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
/usr/bin/python3 bench/make_pictures.py "$scratch" >/dev/null  # the sample, for the start-up
echo "cores: $(nproc); load before: $(cut -d' ' -f1-3 /proc/loadavg)"
[ ! -x "$(dirname "$bmpface")/../bench/faultcost" ] || "$(dirname "$bmpface")/../bench/faultcost"

median() {  # median seconds of the whole process on PICTURE
  hyperfine -N --warmup 2 --runs "$runs" --style none --export-json "$scratch/hf.json" \
    --prepare "rm -f $scratch/out.bmp" "$bmpface $1 $scratch/out.bmp" -i >/dev/null
  /usr/bin/python3 -c \
    'import json,sys; print(json.load(open(sys.argv[1]))["results"][0]["median"])' \
    "$scratch/hf.json"
}
peak() {  # KiB of the maximum resident set, median of 3 (a picture without a face exits with 2)
  for _ in 1 2 3; do
    rm -f "$scratch/out.bmp"
    { /usr/bin/time -f '%M' "$bmpface" "$1" "$scratch/out.bmp" 2>&1 >/dev/null || true; } | tail -1
  done | sort -n | sed -n 2p
}
startup=$(peak "$scratch/hopper-512x600-24.bmp")

printf '| picture | whole process | photograph of as many pixels | ratio '
printf '| peak less start-up | bound | peak / bound |\n'
printf '|---|---:|---:|---:|---:|---:|---:|\n'
for pair in strips-4000x3000:photo-4000x3000 strips-8000x6000:photo-8000x6000 \
  tall-1x10000000:photo-4000x2500; do
  shape=$pictures/${pair%%:*}.bmp photo=$pictures/${pair##*:}.bmp
  ours=$(median "$shape") theirs=$(median "$photo") kib=$(peak "$shape")
  /usr/bin/python3 - "$shape" "$ours" "$theirs" "$kib" "$startup" <<'PY'
import struct, sys
path, ours, theirs = sys.argv[1], float(sys.argv[2]), float(sys.argv[3])
kib, startup = int(sys.argv[4]), int(sys.argv[5])
with open(path, "rb") as f:
    width, height, _, bits = struct.unpack("<iiHH", f.read(30)[18:30])
height = abs(height)
bound = (1.6 * ((width * bits // 8 + 3) & ~3) * height + 2 * width * height) / 1024
request = kib - startup
print("| %s | %.1f ms | %.1f ms | %.2f | %.1f MB | %.1f MB | %.2f |" % (
    path.rsplit("/", 1)[-1], ours * 1e3, theirs * 1e3, ours / theirs, request * 1.024e-3,
    bound * 1.024e-3, request / bound))
PY
done
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
