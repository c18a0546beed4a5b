# Sourced by the scripts: makes sure the Debian packages the build and tests need are there.
# As root it installs what is missing; otherwise it prints the apt-get line and stops.
# libvips-dev: the command's other formats; libvips-tools: its `vips` tool, for the photo tests.
# libdlib-dev: the face detector of --verify (built as a module of its own when it is found).
# python3-tqdm: crop_folder's progress bar; mypy: the Python package's type check.
# libcpp-httplib-dev: bmpface serve; curl, chromium, chromium-driver, python3-selenium: its tests;
# wrk: its bench.
BMPFACE_PACKAGES=(cmake make g++ libgtest-dev libcli11-dev nlohmann-json3-dev libpng-dev python3-pil
  pkg-config binutils libvips-dev libvips-tools python3-dev pybind11-dev python3-pybind11
  python3-numpy python3-pytest python3-venv python3-pip python3-setuptools python3-dask
  python3-distributed libdlib-dev python3-tqdm mypy libcpp-httplib-dev curl chromium
  chromium-driver python3-selenium wrk)
# The quality bench (bench/quality): its pictures' packages and OpenCV's cascades to compare with.
BMPFACE_QUALITY_PACKAGES=(python3-skimage python-matplotlib-data opencv-doc libopencv-objdetect-dev
  libopencv-imgcodecs-dev opencv-data)

# apt-get update, tried again when a mirror is caught mid-sync ("File has unexpected size"); after
# the third failure the lists it did get are used, and an install that still lacks a package fails
# there.
bmpface_apt_update() {
  local try
  for try in 1 2 3; do
    apt-get update -qq && return 0
    [ "$try" -lt 3 ] && sleep 20
  done
  echo "apt-get update failed three times; going on with the package lists there are" >&2
}

bmpface_ensure_packages() {
  local missing=() p
  for p in "${BMPFACE_PACKAGES[@]}" "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  if [ "$(id -u)" -eq 0 ]; then
    bmpface_apt_update
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
  else
    echo "Missing Debian packages. Install them with:" >&2
    echo "  sudo apt-get install -y ${missing[*]}" >&2
    exit 1
  fi
}
