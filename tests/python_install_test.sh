#!/bin/sh
# Installs the Python package from a copy of the source tree the way the README says, into a
# fresh virtual environment that sees Debian's packages, with no package index (nothing may be
# downloaded), and finds the sample's face with it from outside the tree.
# Usage: python_install_test.sh PYTHON3 SOURCE_DIR
set -eu
python=$1 source=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/clone"
(cd "$source" && tar cf - --exclude='./build*' --exclude=./.git --exclude='*.egg-info' .) |
  (cd "$work/clone" && tar xf -)
"$python" -m venv --system-site-packages "$work/env"
(cd "$work/clone" && "$work/env/bin/pip" install -q --no-build-isolation --no-index .)
cd "$work"
"$work/env/bin/python" - "$source/examples/hopper.bmp" <<'PY'
import sys
import bmpface
assert bmpface.__file__.startswith(sys.prefix), bmpface.__file__
assert bmpface.detect(sys.argv[1]) == (72, 0, 332, 369)
PY
