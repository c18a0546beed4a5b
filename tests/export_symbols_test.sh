#!/bin/sh
# The shared library must export BMPFaceExtract and nothing else (no stray C++ instances).
# Usage: export_symbols_test.sh NM LIBRARY
symbols=$("$1" -D --defined-only "$2" | awk '{print $2, $3}')
[ "$symbols" = "T BMPFaceExtract" ] && exit 0
printf 'unexpected dynamic symbols of %s:\n%s\n' "$2" "$symbols" >&2
exit 1
