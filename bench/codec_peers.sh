#!/usr/bin/env bash
# Times our decoders (pixmoor-codec decode, whole process) against djpeg and netpbm's converters
# on the same files in the same run, and prints the ratios against the targets.
# Usage: bench/codec_peers.sh [BUILD_DIR] [RUNS]
#   BUILD_DIR defaults to build/ and must hold a Release build of bin/pixmoor-codec:
#     cmake -S . -B build -DCMAKE_BUILD_TYPE=Release && cmake --build build --target pixmoor-codec
# Needs hyperfine, ImageMagick, libjpeg-turbo-progs and netpbm (scripts/deps.sh bench).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
runs=${2:-15}
[ -d "$build" ] && build=$(cd "$build" && pwd)
tool=$build/bin/pixmoor-codec
if [ ! -x "$tool" ]; then
  echo "No $tool; build it first (Release)." >&2
  exit 1
fi
for p in hyperfine convert cjpeg djpeg pngtopnm giftopnm tifftopnm; do
  command -v "$p" >/dev/null || { echo "Missing $p (bash scripts/deps.sh bench)" >&2; exit 1; }
done
python=/usr/bin/python3

work=$(mktemp -d /tmp/pixmoor-peers-XXXXXX)
trap 'rm -rf "$work"' EXIT
cd "$work"

echo "Making test pictures in $work ..."
# A 3000 x 2000 photograph-like picture: plasma clouds, softened, 8 bits per channel.
convert -size 3000x2000 -seed 7 plasma:fractal -blur 0x1.5 -depth 8 photo.ppm
cjpeg -quality 90 -outfile photo.jpg photo.ppm
convert photo.ppm -depth 8 PNG24:photo.png
convert photo.ppm -colors 256 photo.gif
convert photo.ppm -depth 8 -compress lzw photo_lzw.tif
convert photo.ppm -depth 8 -compress none photo_none.tif
ls -l photo*

results=()
# compare NAME TARGET OURS PEER
compare() {
  local name=$1 target=$2 ours=$3 peer=$4
  local stem=${name//\//_}
  hyperfine --style basic --warmup 3 --runs "$runs" --export-json "$stem.json" \
    -n ours "$ours" -n peer "$peer" >"$stem.log" 2>&1 || { cat "$stem.log"; exit 1; }
  results+=("$($python - "$stem.json" "$name" "$target" "$peer" <<'PY'
import json, sys
data = json.load(open(sys.argv[1]))["results"]
ours, peer = data[0]["mean"], data[1]["mean"]
cpu = [r["user"] + r["system"] for r in data]
ratio = ours / peer
target = float(sys.argv[3])
verdict = "ok" if ratio <= target else "SLOWER THAN TARGET"
print(f"{sys.argv[2]:<10} ours {ours*1000:7.1f} ms  peer {peer*1000:7.1f} ms  ratio {ratio:4.2f}"
      f" (target {target:.1f}: {verdict}); CPU ratio {cpu[0] / cpu[1]:4.2f}"
      f"  [{sys.argv[4].split()[0]}]")
PY
)")
}

compare jpeg-full 1.1 "$tool decode photo.jpg ours.ppm" "djpeg -outfile peer.ppm photo.jpg"
compare jpeg-1/8 1.1 "$tool decode photo.jpg ours.ppm --scale 8" \
  "djpeg -scale 1/8 -outfile peer.ppm photo.jpg"
compare png 1.2 "$tool decode photo.png ours.ppm" "pngtopnm photo.png > peer.ppm"
compare gif 1.2 "$tool decode photo.gif ours.ppm" "giftopnm photo.gif > peer.ppm"
compare tiff-lzw 1.2 "$tool decode photo_lzw.tif ours.ppm" "tifftopnm photo_lzw.tif > peer.ppm"
compare tiff-none 1.2 "$tool decode photo_none.tif ours.ppm" "tifftopnm photo_none.tif > peer.ppm"

echo
echo "Whole-process decode times, mean of $runs runs (ratio = ours / peer; the CPU ratio compares"
echo "user + system time, which a busy machine disturbs less than the wall clock):"
printf '%s\n' "${results[@]}"
