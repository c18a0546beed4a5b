#!/bin/sh
# Installs the Python package from a copy of the source tree the way the README says, into a
# fresh virtual environment that sees Debian's packages, with no package index (nothing may be
# downloaded), and finds the sample's face with it from outside the tree: from the BMP, and from a
# PNG through the libvips module the package carries beside its extension. The version pip shows
# is the package's, and the console command is installed.
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
import importlib.metadata
import sys
import bmpface
assert bmpface.__file__.startswith(sys.prefix), bmpface.__file__
assert bmpface.detect(sys.argv[1]) == (72, 0, 332, 369)
assert bmpface.__version__ == importlib.metadata.version("bmpface"), bmpface.__version__
if bmpface._bmpface.HAVE_VIPS:
    assert bmpface.extract(sys.argv[1], "face.png") == (72, 0, 332, 369)
    with open("face.png", "rb") as written:  # written by libvips, through the module
        assert written.read(4) == b"\x89PNG"
PY
"$work/env/bin/bmpface-folder" --help >/dev/null
