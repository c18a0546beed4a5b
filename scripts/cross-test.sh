#!/usr/bin/env bash
# Cross-builds bmpface for TARGET with cmake/toolchains/TARGET.cmake and runs the test suite there
# under an emulator:
#   windows       x86_64-w64-mingw32 (bmpface.dll), tests under Wine
#   windows-i686  i686-w64-mingw32, tests under 32-bit Wine (adds Debian's i386 architecture)
#   arm           arm-linux-gnueabihf, tests under qemu-arm
#   big-endian    s390x-linux-gnu, tests under qemu-s390x
# As root it installs the Debian packages it needs; otherwise it prints the apt-get line and stops.
# BUILD_DIR (default build-cross-TARGET) picks the build folder; further arguments go to CMake's
# configure step. Prints the time each stage took.
set -euo pipefail
cd "$(dirname "$0")/.."

target=${1:-}
case $target in
  windows) cross=(g++-mingw-w64-x86-64-posix wine wine64) ;;
  windows-i686) cross=(g++-mingw-w64-i686-posix wine wine32:i386) ;;
  arm) cross=(g++-arm-linux-gnueabihf qemu-user) ;;
  big-endian) cross=(g++-s390x-linux-gnu qemu-user) ;;
  *)
    echo "usage: $0 windows|windows-i686|arm|big-endian [cmake options]" >&2
    exit 64
    ;;
esac
shift
build=${BUILD_DIR:-build-cross-$target}
jobs=$(nproc 2>/dev/null || echo 2)

stage_start=$SECONDS
stage() {
  printf '%s: %ss\n' "$1" "$((SECONDS - stage_start))"
  stage_start=$SECONDS
}

# The common build packages (GoogleTest as sources, built below with the cross compiler), then
# the cross toolchain and emulator without recommends: Wine's would add fonts and more for nothing.
source scripts/deps.sh
bmpface_ensure_packages googletest
missing=()
for p in "${cross[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "Missing Debian packages. Install them with:" >&2
    [ "$target" != windows-i686 ] ||
      echo "  sudo dpkg --add-architecture i386 && sudo apt-get update" >&2
    echo "  sudo apt-get install -y --no-install-recommends ${missing[*]}" >&2
    exit 1
  fi
  if [ "$target" = windows-i686 ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
  fi
  bmpface_apt_update
  # A mirror caught mid-sync can leave one architecture's lists out, and then no version of the
  # toolchain installs: that is the mirror's state, not the sources', so it exits 75 (try again
  # later) for the caller to tell apart from a failure.
  if ! DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
    "${missing[@]}" >/dev/null; then
    echo "cross-test: the packages for $target cannot be installed now: ${missing[*]}" >&2
    exit 75
  fi
fi
stage "install"

if [[ $target == windows* ]]; then
  # The toolchain file's Wine prefix, made once before the tests start in parallel, with no .NET
  # or browser engine in it.
  [ "$target" = windows ] && arch=win64 || arch=win32
  export WINEARCH=$arch WINEPREFIX=${HOME:-}/.wine-bmpface-$arch WINEDEBUG=-all \
    WINEDLLOVERRIDES="mscoree,mshtml="
  wineboot --init >/dev/null 2>&1 || true
  wineserver -w
  stage "wine prefix"
fi

cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/toolchains/$target.cmake" "$@" >/dev/null
cmake --build "$build" -j "$jobs"
stage "build"
ctest --test-dir "$build" --output-on-failure -j "$jobs"
stage "test"
