#!/bin/sh
# bmpface.dll must be named so, export BMPFaceExtract alone, by that undecorated name, and import
# only system DLLs (no MinGW runtime DLL to ship beside it).
# Usage: export_table_test.sh OBJDUMP DLL
table=$("$1" -p "$2") || exit 1
dll=$(printf '%s\n' "$table" | awk '$1 == "Name" { print $NF; exit }')
count=$(printf '%s\n' "$table" | awk '$1 == "Export" && $3 == "Table" { print $NF; exit }')
names=$(printf '%s\n' "$table" | sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p' |
  awk '/^\t\[/ { print $NF }')
imports=$(printf '%s\n' "$table" | awk '/DLL Name:/ { print $NF }' |
  grep -iv -e '^kernel32\.dll$' -e '^msvcrt\.dll$' -e '^api-ms-win-')
[ "$dll $count $names" = "bmpface.dll 00000001 BMPFaceExtract" ] && [ -z "$imports" ] && exit 0
printf 'unexpected export table of %s: %s %s entries: %s; other imports: %s\n' \
  "$2" "$dll" "$count" "$names" "$imports" >&2
exit 1
