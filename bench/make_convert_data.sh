#!/usr/bin/env bash
# Makes the conversion benchmark's directories under DIR from a folder of camera-size JPEGs (for
# example the jpg folder of bench/make_catalogue_data.sh):
#   DIR/jpg  the first N JPEGs of JPG_SRC (hard links where possible, else copies)
#   DIR/png  one 1920 x 1080 PNG of each, made by ImageMagick (scaled to cover, centre cropped)
# N is 100 unless --count says otherwise. A directory already complete is left as it is. The
# work runs under nice.
set -euo pipefail

usage() { echo "usage: $0 [--count N] JPG_SRC DIR" >&2; exit 2; }
count=100
args=()
while [[ $# -gt 0 ]]; do
  case "$1" in
    --count) count="${2:?}"; shift 2 ;;
    -h|--help) usage ;;
    *) args+=("$1"); shift ;;
  esac
done
[[ ${#args[@]} -eq 2 ]] || usage
src=${args[0]}
dir=${args[1]}
[[ "$count" =~ ^[0-9]+$ && "$count" -ge 1 ]] || usage
command -v convert > /dev/null || { echo "needs ImageMagick's convert" >&2; exit 1; }

mapfile -t sources < <(find "$src" -maxdepth 1 -type f \( -iname '*.jpg' -o -iname '*.jpeg' \) |
  sort | head -n "$count")
[[ ${#sources[@]} -eq $count ]] || { echo "$src holds fewer than $count JPEGs" >&2; exit 1; }

mkdir -p "$dir/jpg" "$dir/png"
for f in "${sources[@]}"; do
  name=$(basename "$f")
  [[ -e "$dir/jpg/$name" ]] || ln "$f" "$dir/jpg/$name" 2> /dev/null || cp "$f" "$dir/jpg/$name"
done

# Two at a time: the machine has two cores.
make_png() {
  local out="$2/png/$(basename "${1%.*}").png"
  [[ -s "$out" ]] && return 0
  nice -n 10 convert "$1" -resize '1920x1080^' -gravity center -extent 1920x1080 "$out.part.png"
  mv "$out.part.png" "$out"
}
export -f make_png
printf '%s\0' "${sources[@]}" | xargs -0 -I{} -P 2 bash -c 'make_png "$1" "$2"' _ {} "$dir"
echo "made $dir/jpg ($(ls "$dir/jpg" | wc -l) files) and $dir/png ($(ls "$dir/png" | wc -l) files)"
