#!/usr/bin/env bash
# The photo path as whole processes (hyperfine): a 12-megapixel JPEG (4000 x 3000, quality 90)
# cropped to a JPEG by bmpface, next to
#   - libvips alone loading and saving the same picture: `vips copy` at the same quality and
#     chroma subsampling (bmpface's target: at most 1.3 times that);
#   - the same job written with OpenCV (bench/opencv_face.cpp: imread, the skin mask, labelling,
#     the library's decisions, imwrite at quality 90; bmpface's target: at least 2 times faster);
# and the same for a phone's picture stored sideways (EXIF orientation 6), which bmpface turns
# upright before it looks for the face.
# Checks first that bmpface and OpenCV find the same rectangle. Prints a table of medians.
#
#   bench/photo.sh
#
# Environment: BUILD_DIR (default build-photo-bench), RESULTS (default BUILD_DIR/photo-results),
# RUNS (hyperfine runs per command, default 30), JOBS (build jobs, default 2).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
bmpface_ensure_packages libbenchmark-dev hyperfine libopencv-dev

build=${BUILD_DIR:-build-photo-bench}
results=${RESULTS:-$build/photo-results}
runs=${RUNS:-30}
jobs=${JOBS:-2}

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DBMPFACE_BUILD_BENCH=ON \
  -DBMPFACE_BUILD_TESTS=OFF -DBMPFACE_BUILD_TOOLS=ON -DBMPFACE_REQUIRE_VIPS=ON >/dev/null
cmake --build "$build" -j "$jobs" --target bmpface_cli bmpface_vips_module bmpface_opencv_face
bmpface=$build/tools/bmpface
opencv=$build/bench/opencv_face
mkdir -p "$results"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

# The sample, enlarged to 12 megapixels, as a camera's JPEG; and as a phone stores it sideways.
/usr/bin/python3 - "$scratch" <<'EOF'
import sys
from PIL import Image
folder = sys.argv[1]
picture = Image.open("examples/hopper.bmp").convert("RGB").resize((4000, 3000), Image.LANCZOS)
picture.save(folder + "/camera.jpg", quality=90)
exif = Image.Exif()
exif[274] = 6
picture.transpose(Image.ROTATE_90).save(folder + "/phone.jpg", quality=90, exif=exif.tobytes())
EOF

{
  echo "date: $(date -u '+%Y-%m-%d %H:%M UTC')"
  echo "commit: $(git rev-parse --short HEAD 2>/dev/null || echo unknown)"
  echo "cpu: $(grep -m1 'model name' /proc/cpuinfo | sed 's/.*: //') ($(nproc) cores)"
  echo "$("$bmpface" --version | tr '\n' ' ')"
  echo "load before: $(uptime | sed 's/.*load average: //')"
} | tee "$results/meta.txt"

echo "== same rectangle from OpenCV as from bmpface"
for picture in camera phone; do
  ours=$("$bmpface" --detect "$scratch/$picture.jpg" | sed 's/^.*: //')
  theirs=$("$opencv" "$scratch/$picture.jpg" "$scratch/check.jpg")
  [ "$ours" = "$theirs" ] ||
    { echo "DIFFER $picture: bmpface '$ours', OpenCV '$theirs'" >&2; exit 1; }
  echo "same   $picture: $ours"
done

echo "== whole processes (hyperfine, $runs runs after 3 warm-ups)"
for picture in camera phone; do
  in=$scratch/$picture.jpg
  # Each run writes a new output file, as a real crop does.
  hyperfine -N --warmup 3 --runs "$runs" --style basic \
    --prepare "rm -f $scratch/ours.jpg $scratch/vips.jpg $scratch/opencv.jpg" \
    --export-json "$results/hf-$picture.json" \
    -n bmpface "$bmpface $in $scratch/ours.jpg" \
    -n "vips copy" "vips copy $in $scratch/vips.jpg[Q=90,subsample-mode=on]" \
    -n opencv "$opencv $in $scratch/opencv.jpg"
done
echo "load after: $(uptime | sed 's/.*load average: //')" | tee -a "$results/meta.txt"

/usr/bin/python3 - "$results" <<'EOF' | tee "$results/summary.md"
import json, sys
folder = sys.argv[1]
print("| picture | bmpface | vips copy | OpenCV process | bmpface / vips copy | OpenCV / bmpface |")
print("|---|---:|---:|---:|---:|---:|")
for picture, words in (("camera", "12 MP JPEG, quality 90"),
                       ("phone", "the same, stored sideways (EXIF 6)")):
    with open("%s/hf-%s.json" % (folder, picture)) as f:
        median = {r["command"]: r["median"] * 1000 for r in json.load(f)["results"]}
    ours, vips, cv = median["bmpface"], median["vips copy"], median["opencv"]
    print("| %s | %.1f ms | %.1f ms | %.1f ms | %.2f (goal <= 1.3) | %.2f (goal >= 2) |"
          % (words, ours, vips, cv, ours / vips, cv / ours))
EOF
