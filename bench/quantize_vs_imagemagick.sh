#!/usr/bin/env bash
# Quality and speed of our colour reduction against ImageMagick on photograph-like pictures:
# PSNR (against the true-colour original) and whole-process time of
#   pixmoor-codec decode IN.bmp OUT.ppm --bits 8 --dither 1   vs  convert IN.bmp -dither FloydSteinberg -colors 256 OUT.ppm
#   pixmoor-codec decode IN.bmp OUT.ppm --bits 4 --dither 1   vs  convert IN.bmp -colors 16 OUT.ppm
# Targets: PSNR no worse than 0.5 dB below ImageMagick's, time no more than 2 times.
# Usage: bench/quantize_vs_imagemagick.sh [BUILD_DIR] [PHOTO...]
#   BUILD_DIR (default build/) holds a Release bin/pixmoor-codec. Extra photos (any format
#   ImageMagick reads) join the generated ones.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
shift || true
tool=$build/bin/pixmoor-codec
[ -x "$tool" ] || { echo "No $tool; build it first (Release)." >&2; exit 1; }
for p in hyperfine convert compare; do
  command -v "$p" >/dev/null || { echo "Missing $p (bash scripts/deps.sh bench)" >&2; exit 1; }
done

work=$(mktemp -d /tmp/pixmoor-quantize-XXXXXX)
trap 'rm -rf "$work"' EXIT
photos=()
i=0
for extra in "$@"; do
  i=$((i + 1))
  convert "$extra[0]" -alpha off -depth 8 "$work/extra$i.ppm" && photos+=("$work/extra$i.ppm")
done
cd "$work"
# Generated stand-ins for photographs: plasma clouds (soft and detailed) and ImageMagick's rose
# enlarged (smooth gradients), all 1920 x 1080.
convert -size 1920x1080 -seed 7 plasma:fractal -blur 0x2 -depth 8 clouds.ppm
convert -size 1920x1080 -seed 3 plasma:fractal -depth 8 detail.ppm
convert rose: -resize 1920x1080! -depth 8 rose.ppm
photos=(clouds.ppm detail.ppm rose.ppm "${photos[@]}")

psnr() { { compare -metric PSNR "$1" "$2" null: 2>&1 || true; } | awk '{print $1}'; }  # compare exits 1 when images differ

printf '%-12s %-5s %9s %9s %7s %9s %9s %6s\n' photo mode "our dB" "IM dB" "diff" "our ms" "IM ms" ratio
for photo in "${photos[@]}"; do
  name=$(basename "$photo" .ppm)
  convert "$photo" BMP3:in.bmp
  for mode in 256 16; do
    if [ $mode = 256 ]; then ours="$tool decode in.bmp ours.ppm --bits 8 --dither 1"
      theirs="convert in.bmp -dither FloydSteinberg -colors 256 -depth 8 theirs.ppm"
    else ours="$tool decode in.bmp ours.ppm --bits 4 --dither 1"
      theirs="convert in.bmp -colors 16 -depth 8 theirs.ppm"
    fi
    hyperfine --style none --warmup 1 --runs 5 --export-json t.json -n ours "$ours" -n im "$theirs" >/dev/null
    a=$(psnr "$photo" ours.ppm)
    b=$(psnr "$photo" theirs.ppm)
    /usr/bin/python3 - t.json "$name" "$mode" "$a" "$b" <<'PY'
import json, sys
r = json.load(open(sys.argv[1]))["results"]
ours, im = r[0]["mean"] * 1000, r[1]["mean"] * 1000
a, b = float(sys.argv[4]), float(sys.argv[5])
flags = []
if a < b - 0.5: flags.append("quality below target")
if ours > 2 * im: flags.append("slower than target")
print(f"{sys.argv[2]:<12} {sys.argv[3]:<5} {a:9.2f} {b:9.2f} {a-b:+7.2f} {ours:9.0f} {im:9.0f} {ours/im:6.2f}  {' '.join(flags)}")
PY
  done
done
