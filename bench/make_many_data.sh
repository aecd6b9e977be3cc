#!/usr/bin/env bash
# Makes the large-folder benchmark's directory: N small JPEGs (100 000 unless told) of 64 x 48 to
# 200 x 150 pixels, as avatars, icons and web thumbnails are, each a different crop of the real
# photographs that make_real_data.sh fetches (run that first on the same DIR for DIR/.sources),
# reduced with Pillow and written at quality 75 to 92. Kept between runs: a directory already
# complete for the count is left as it is.
# usage: bench/make_many_data.sh [--count N] DIR       (files go to DIR/many)
set -euo pipefail
count=100000
dir=""
while [[ $# -gt 0 ]]; do
  case "$1" in
    --count) count="${2:?}"; shift 2 ;;
    *) [[ -z "$dir" ]] || { echo "usage: $0 [--count N] DIR" >&2; exit 2; }; dir="$1"; shift ;;
  esac
done
[[ -n "$dir" && "$count" =~ ^[0-9]+$ ]] || { echo "usage: $0 [--count N] DIR" >&2; exit 2; }
out="$dir/many"
if [[ -f "$out/.done" && "$(cat "$out/.done")" == "$count" ]]; then exit 0; fi
mapfile -t photos < <(find "$dir/.sources" -path '*backgrounds*' -name '*.jpg' -size +200k | sort | head -24)
[[ ${#photos[@]} -gt 0 ]] || { echo "$0: no photographs under $dir/.sources (run make_real_data.sh $dir)" >&2; exit 1; }
rm -rf "$out.tmp"; mkdir -p "$out.tmp"
/usr/bin/python3 - "$out.tmp" "$count" "${photos[@]}" <<'PY'
import random, sys
from PIL import Image
out, count, paths = sys.argv[1], int(sys.argv[2]), sys.argv[3:]
rng = random.Random(1)
# Each photograph once at a working size; the crops come from these.
photos = []
for p in paths:
    im = Image.open(p).convert('RGB')
    im.thumbnail((1600, 1600))
    photos.append(im)
for i in range(count):
    im = photos[i % len(photos)]
    w = rng.randint(64, 200)
    h = w * 3 // 4
    crop_w = rng.randint(w, min(im.width, w * 6))
    crop_h = crop_w * h // w
    x = rng.randint(0, im.width - crop_w)
    y = rng.randint(0, im.height - crop_h)
    small = im.crop((x, y, x + crop_w, y + crop_h)).resize((w, h), Image.LANCZOS)
    small.save(f"{out}/img{i:06d}.jpg", quality=rng.randint(75, 92))
PY
rm -rf "$out"; mv "$out.tmp" "$out"
echo "$count" > "$out/.done"
