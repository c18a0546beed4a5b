#!/usr/bin/env bash
# Builds the bmpface command and crops the face out of the bundled sample photograph.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
bmpface_ensure_packages

build=${BUILD_DIR:-build}
cmake -S . -B "$build" >/dev/null
cmake --build "$build" -j "$(nproc 2>/dev/null || echo 2)" --target bmpface_cli >/dev/null
"$build/tools/bmpface" examples/hopper.bmp hopper-face.bmp
"$build/tools/bmpface" --detect examples/hopper.bmp
