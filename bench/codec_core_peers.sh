#!/usr/bin/env bash
# Times our BMP and PCX decoders (pixmoor-codec decode to PPM, whole process) against netpbm's
# bmptopnm and pcxtoppm on the same 1920 x 1080 files in the same run, and prints the ratios
# against the target of 1.2.
# Usage: bench/codec_core_peers.sh [BUILD_DIR] [RUNS]
#   BUILD_DIR defaults to build/ and must hold a Release build of bin/pixmoor-codec:
#     cmake -S . -B build -DCMAKE_BUILD_TYPE=Release && cmake --build build --target pixmoor-codec
# Needs hyperfine, ImageMagick and netpbm (scripts/deps.sh bench).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
runs=${2:-20}
tool=$build/bin/pixmoor-codec
[ -x "$tool" ] || { echo "No $tool; build it first (Release)." >&2; exit 1; }
for p in hyperfine convert bmptopnm pcxtoppm; do
  command -v "$p" >/dev/null || { echo "Missing $p (bash scripts/deps.sh bench)" >&2; exit 1; }
done

work=$(mktemp -d /tmp/pixmoor-core-peers-XXXXXX)
trap 'rm -rf "$work"' EXIT
cd "$work"
echo "Making 1920 x 1080 test pictures in $work ..."
convert -size 1920x1080 -seed 11 plasma:fractal -blur 0x1.5 -depth 8 photo.ppm
convert photo.ppm BMP3:bmp24.bmp
convert photo.ppm -alpha set BMP:bmp32.bmp
convert photo.ppm -colors 256 -type Palette -compress None BMP3:bmp8.bmp
convert photo.ppm -colors 256 -type Palette -compress RLE BMP3:bmp8rle.bmp
convert photo.ppm PCX:pcx24.pcx
convert photo.ppm -colors 256 PCX:pcx8.pcx

printf '%-10s %10s %10s %7s\n' file ours peer ratio
worst=0
for f in bmp24.bmp bmp32.bmp bmp8.bmp bmp8rle.bmp pcx24.pcx pcx8.pcx; do
  case $f in *.bmp) peer=bmptopnm ;; *) peer=pcxtoppm ;; esac
  hyperfine --style none --warmup 3 --runs "$runs" --export-json "$f.json" \
    -n ours "$tool decode $f ours.ppm" -n peer "$peer $f > peer.ppm 2>/dev/null" >/dev/null
  # Same pixels, or the timing means nothing.
  cmp -s <(convert ours.ppm -depth 8 rgb:-) <(convert peer.ppm -depth 8 rgb:-) ||
    echo "warning: $f decodes differently from $peer" >&2
  /usr/bin/python3 - "$f.json" "$f" <<'PY'
import json, sys
r = json.load(open(sys.argv[1]))["results"]
ours, peer = r[0]["mean"], r[1]["mean"]
print(f"{sys.argv[2]:<10} {ours*1000:8.1f}ms {peer*1000:8.1f}ms {ours/peer:7.2f}" + ("" if ours / peer <= 1.2 else "  above 1.2"))
PY
done
