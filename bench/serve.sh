#!/usr/bin/env bash
# bmpface serve under wrk (keep-alive) on 127.0.0.1: requests per second and p50/p99 latency of
# POST /v1/crop for the sample BMP and a 12 MP JPEG, at the peak and at half the peak rate; beside
# them the same pictures through `bmpface batch -j CORES` and a loop of one process per picture.
# wrk and the server share the machine's cores: the figures are for both on one machine.
# Usage: bench/serve.sh [BMPFACE [SECONDS]]   (default build/tools/bmpface, 10 s a run)
set -euo pipefail
cd "$(dirname "$0")/.."
bmpface=$(realpath "${1:-build/tools/bmpface}")
seconds=${2:-10}
cores=$(nproc)
work=$(mktemp -d)
server=
cleanup() {
  [ -n "$server" ] && kill -TERM "$server" 2>/dev/null
  wait 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
command -v wrk >/dev/null || { echo "needs wrk (Debian wrk)" >&2; exit 1; }

cp examples/hopper.bmp "$work/sample.bmp"
/usr/bin/python3 - "$work" <<'PY'
import sys
from PIL import Image
# The sample's face, enlarged to 12 MP: a photo's size with a face to find.
Image.open("examples/hopper.bmp").convert("RGB").resize((4000, 3000)).save(
    sys.argv[1] + "/photo.jpg", quality=90)
PY
echo "cores: $cores; load before: $(cut -d' ' -f1-3 /proc/loadavg)"

"$bmpface" serve --listen 127.0.0.1:0 --workers "$cores" 2>"$work/log" &
server=$!
for _ in $(seq 50); do grep -q '"port"' "$work/log" 2>/dev/null && break; sleep 0.1; done
port=$(grep -o '"port":[0-9]*' "$work/log" | head -1 | cut -d: -f2)

# The Lua script posts the picture; DELAY (ms) after each answer paces a connection.
lua() {  # lua PICTURE DELAY
  cat >"$work/post.lua" <<LUA
local f = io.open("$1", "rb")
wrk.method = "POST"
wrk.body = f:read("*a")
f:close()
wrk.headers["Content-Type"] = "application/octet-stream"
function delay() return $2 end
LUA
}

# Prints "RATE P50_MS P99_MS" of one wrk run.
measure() {  # measure PICTURE CONNECTIONS DELAY
  lua "$1" "$3"
  wrk -t 1 -c "$2" -d "${seconds}s" --latency -s "$work/post.lua" \
    "http://127.0.0.1:$port/v1/crop" >"$work/wrk.txt"
  awk '
    function ms(v) { if (v ~ /us$/) return v / 1000; if (v ~ /ms$/) return v + 0; return v * 1000 }
    /^ +50%/ { p50 = ms($2) } /^ +99%/ { p99 = ms($2) } /^Requests\/sec/ { rate = $2 }
    /Non-2xx/ { bad = $NF }
    END { printf "%.1f %.2f %.2f%s\n", rate, p50, p99, bad ? " (" bad " non-2xx)" : "" }' \
    "$work/wrk.txt"
}

# Pictures per second of batch and of one process per picture on COUNT copies.
others() {  # others PICTURE COUNT
  mkdir -p "$work/in-$2" "$work/out-$2"
  local ext=${1##*.} start end
  for i in $(seq "$2"); do cp "$1" "$work/in-$2/$i.$ext"; done
  start=$(date +%s%N)
  "$bmpface" batch --no-progress -j "$cores" "$work/in-$2" -o "$work/batch-$2" >/dev/null
  end=$(date +%s%N)
  local batch; batch=$(awk -v n="$2" -v ns=$((end - start)) 'BEGIN { printf "%.1f", n * 1e9 / ns }')
  start=$(date +%s%N)
  for i in $(seq "$2"); do "$bmpface" "$work/in-$2/$i.$ext" "$work/out-$2/$i.$ext" 2>/dev/null; done
  end=$(date +%s%N)
  local loop; loop=$(awk -v n="$2" -v ns=$((end - start)) 'BEGIN { printf "%.1f", n * 1e9 / ns }')
  echo "$batch $loop"
}

for case in "sample.bmp 2000" "photo.jpg 60"; do
  set -- $case
  read -r rate p50 p99 rest < <(measure "$work/$1" $((2 * cores)) 0)
  # Half the peak rate: each connection waits after its answer so that together they ask for
  # half as many requests a second.
  delay=$(awk -v c=$((2 * cores)) -v r="$rate" -v l="$p50" 'BEGIN { d = c * 2000 / r - l;
    printf "%d", d < 0 ? 0 : d }')
  read -r hrate hp50 hp99 hrest < <(measure "$work/$1" $((2 * cores)) "$delay")
  read -r batch loop < <(others "$work/$1" "$2")
  format='%s: serve %s req/s (p50 %s ms, p99 %s ms)%s;\n'
  format+='  at half rate %s req/s (p50 %s ms, p99 %s ms, p99/p50 %.2f);\n'
  format+='  batch %s pictures/s (serve/batch %.2f); one process a picture %s/s\n'
  # shellcheck disable=SC2059
  printf "$format" "$1" "$rate" "$p50" "$p99" "${rest:+ $rest}" "$hrate" "$hp50" "$hp99" \
    "$(awk -v a="$hp99" -v b="$hp50" 'BEGIN { print a / b }')" "$batch" \
    "$(awk -v a="$rate" -v b="$batch" 'BEGIN { print a / b }')" "$loop"
done
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
