#!/usr/bin/env bash
# Builds bmpface and runs every test. Extra arguments go to CMake's configure step.
# BUILD_DIR (default build) picks the build folder.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
bmpface_ensure_packages

build=${BUILD_DIR:-build}
jobs=$(nproc 2>/dev/null || echo 2)
cmake -S . -B "$build" "$@"
cmake --build "$build" -j "$jobs"
ctest --test-dir "$build" --output-on-failure -j "$jobs"
