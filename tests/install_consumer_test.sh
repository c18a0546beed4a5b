#!/bin/sh
# Installs the build tree into a scratch prefix, builds outside consumers against it (CMake
# package, C and C++; pkg-config, C) and runs each: the export's on the sample picture, the pixel
# calls' (shared and static, and through bmpface-pixels.pc) on a picture they make. The installed
# command must start there with an empty environment.
# Usage: install_consumer_test.sh CMAKE BUILD_DIR SOURCE_DIR C_COMPILER CXX_COMPILER
set -eu
cmake=$1 build=$2 source=$3 cc=$4 cxx=$5
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$cmake" --install "$build" --prefix "$work/prefix" >/dev/null
"$cmake" -S "$source/tests/consumer" -B "$work/build" -DCMAKE_PREFIX_PATH="$work/prefix" \
  -DCMAKE_C_COMPILER="$cc" -DCMAKE_CXX_COMPILER="$cxx" >/dev/null
"$cmake" --build "$work/build" >/dev/null

# Runs a consumer on the sample; the crop is 332 x 369, 24-bit: 54 + 369 rows of 996 bytes.
crop() {
  rm -f "$work/face.bmp"
  "$1" "$source/examples/hopper.bmp" "$work/face.bmp" || { echo "$1 failed" >&2; exit 1; }
  [ "$(wc -c <"$work/face.bmp")" -eq 367578 ] || { echo "$1: wrong output size" >&2; exit 1; }
}
crop "$work/build/consumer_c"
crop "$work/build/consumer_cpp"

PKG_CONFIG_PATH=$(dirname "$(find "$work/prefix" -name bmpface.pc)")
export PKG_CONFIG_PATH
cflags=$(pkg-config --cflags bmpface)
case $cflags in *"$work/prefix/"*) ;; *) echo "bmpface.pc: bad prefix: $cflags" >&2; exit 1 ;; esac
libdir=$(pkg-config --variable=libdir bmpface)
# shellcheck disable=SC2046,SC2086  # the flags are meant to split
"$cc" -std=c99 -Wall -Wextra -Wpedantic -Werror $cflags \
  "$source/tests/consumer/consumer.c" -o "$work/consumer_pc" $(pkg-config --libs bmpface) \
  -Wl,-rpath,"$libdir"
crop "$work/consumer_pc"

"$work/build/pixels_consumer" || { echo "pixels_consumer failed: $?" >&2; exit 1; }
"$work/build/pixels_consumer_static" || { echo "pixels_consumer_static failed: $?" >&2; exit 1; }
# shellcheck disable=SC2046  # the flags are meant to split
"$cc" -std=c99 -Wall -Wextra -Wpedantic -Werror $(pkg-config --cflags bmpface-pixels) \
  "$source/tests/consumer/pixels_consumer.c" -o "$work/pixels_pc" \
  $(pkg-config --libs bmpface-pixels) -Wl,-rpath,"$libdir"
"$work/pixels_pc" || { echo "pixels_pc failed: $?" >&2; exit 1; }

# The installed command starts from any prefix with an empty environment.
env -i "$work/prefix/bin/bmpface" --version | grep -q '^bmpface [0-9]' ||
  { echo "the installed bmpface does not start from $work/prefix" >&2; exit 1; }
