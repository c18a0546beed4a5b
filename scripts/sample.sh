#!/usr/bin/env bash
# Builds the bmpface command and crops the face out of the bundled sample photograph.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
bmpface_ensure_packages

build=${BUILD_DIR:-build}
# The first build compiles the command and its libvips module: about a minute on 2 cores, more
# where the Debian packages are installed first. Its progress shows, so it never looks hung.
echo "Building bmpface in $build/ (the first time takes a minute or two)..."
cmake -S . -B "$build" >/dev/null
cmake --build "$build" -j "$(nproc 2>/dev/null || echo 2)" --target bmpface_cli |
  { grep --line-buffered -E '^\[ *[0-9]+%\]' || true; }
"$build/tools/bmpface" examples/hopper.bmp hopper-face.bmp
"$build/tools/bmpface" --detect examples/hopper.bmp
echo "The command is $build/tools/bmpface. To put it on PATH (in /usr/local):"
echo "  cmake --build $build && sudo cmake --install $build"
