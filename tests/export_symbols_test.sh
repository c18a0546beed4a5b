#!/bin/sh
# A shared library must export exactly the named symbols (default: BMPFaceExtract) and nothing
# else (no stray C++ instances).
# Usage: export_symbols_test.sh NM LIBRARY [SYMBOL...]
nm=$1 library=$2
shift 2
[ $# -gt 0 ] || set -- BMPFaceExtract
expected=$(for symbol in "$@"; do echo "T $symbol"; done | LC_ALL=C sort)
symbols=$("$nm" -D --defined-only "$library" | awk '{print $2, $3}' | LC_ALL=C sort)
[ "$symbols" = "$expected" ] && exit 0
printf 'unexpected dynamic symbols of %s:\n%s\n' "$library" "$symbols" >&2
exit 1
