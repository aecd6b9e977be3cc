#!/usr/bin/env bash
# Times the real Copy command of the main window (pixmoor-bench copy) against cp on the same files
# in the same run, page cache warm, best of several turns each, and prints the throughput ratio
# (1.0: as fast as cp). One Move run is timed too (it flushes each copy before removing its
# source, so it is slower by design); cp has no counterpart for it.
#
#   bench/copy_peers.sh SRC_DIR EXT [TURNS]   (TURNS: 5 unless given)
#
# SRC_DIR holds the files (for example bench/make_catalogue_data.sh's jpg folder, or a folder with
# one large file named big.EXT); the copies go to a scratch folder beside it, on the same disk.
# Needs a Release build in build/ (or PIXMOOR_BUILD=DIR).
set -euo pipefail
src=${1:?usage: $0 SRC_DIR EXT [TURNS]}
ext=${2:?usage: $0 SRC_DIR EXT [TURNS]}
turns=${3:-5}
root=$(cd "$(dirname "$0")/.." && pwd)
bench=${PIXMOOR_BUILD:-$root/build}/bin/pixmoor-bench
[ -x "$bench" ] || { echo "missing $bench: build Release in build/ first" >&2; exit 1; }
src=$(cd "$src" && pwd)

# The files the command selects: the type's extensions, any letter case.
patterns=(-iname "*.$ext")
[ "$ext" = jpg ] && patterns=(\( -iname '*.jpg' -o -iname '*.jpeg' -o -iname '*.jpe' \))
[ "$ext" = tif ] && patterns=(\( -iname '*.tif' -o -iname '*.tiff' \))
mapfile -d '' files < <(find "$src" -maxdepth 1 -type f "${patterns[@]}" -print0)
[ ${#files[@]} -gt 0 ] || { echo "no .$ext files in $src" >&2; exit 1; }
bytes=$(du -cb "${files[@]}" | tail -1 | cut -f1)

scratch=$(mktemp -d "$(dirname "$src")/copy-bench.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
cat "${files[@]}" > /dev/null # page cache warm

now() { date +%s.%N; }
best_cp=""
best_px=""
stall=""
time_cp() {
  rm -rf "$scratch/cp" && mkdir "$scratch/cp" && sync
  local t0 t1 s
  t0=$(now)
  cp -t "$scratch/cp" -- "${files[@]}"
  t1=$(now)
  s=$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.3f", b - a }')
  best_cp=$(awk -v s="$s" -v b="$best_cp" 'BEGIN { print (b == "" || s < b) ? s : b }')
  rm -rf "$scratch/cp"
}
time_pixmoor() {
  rm -rf "$scratch/px" && mkdir "$scratch/px" && sync
  local line s
  line=$("$bench" copy "$src" --type "$ext" --to "$scratch/px" 2>/dev/null | tail -1)
  s=$(sed -n 's/.*seconds=\([0-9.]*\).*/\1/p' <<< "$line")
  [ -n "$s" ] || { echo "pixmoor-bench failed: $line" >&2; exit 1; }
  cmp -s "${files[0]}" "$scratch/px/$(basename "${files[0]}")" || { echo "copy differs" >&2; exit 1; }
  if [ -z "$best_px" ] || awk -v s="$s" -v b="$best_px" 'BEGIN { exit !(s < b) }'; then
    best_px=$s
    stall=$(sed -n 's/.*max_stall_ms=\([0-9.]*\).*/\1/p' <<< "$line")
  fi
  rm -rf "$scratch/px"
}
# The disk's write-back makes single runs noisy: the two take turns at going first.
for ((t = 1; t <= turns; t++)); do
  if ((t % 2)); then time_cp; time_pixmoor; else time_pixmoor; time_cp; fi
done

# One move: from a staged copy, so the source stays.
mkdir "$scratch/stage" "$scratch/moved"
cp -t "$scratch/stage" -- "${files[@]}"
sync
move=$("$bench" copy "$scratch/stage" --type "$ext" --to "$scratch/moved" --move 2>/dev/null | tail -1)

mbps() { awk -v b="$bytes" -v s="$1" 'BEGIN { printf "%.1f", (s > 0) ? b / 1e6 / s : 0 }'; }
echo "files=${#files[@]} bytes=$bytes turns=$turns (best of each)"
echo "cp:            seconds=$best_cp mb_per_s=$(mbps "$best_cp")"
echo "pixmoor copy:  seconds=$best_px mb_per_s=$(mbps "$best_px") max_stall_ms=$stall"
echo "pixmoor move:  $move"
awk -v c="$best_cp" -v p="$best_px" 'BEGIN { printf "ratio (pixmoor throughput / cp throughput) = %.2f\n", c / p }'
