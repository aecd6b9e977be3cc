#!/usr/bin/env bash
# Times the real Convert command of the main window (pixmoor-bench convert) beside GraphicsMagick
# (gm mogrify, the files split over two processes, one per core) and ImageMagick (one mogrify,
# which uses every core itself) on the same files in the same run, page cache warm, and prints
# files per second, peak memory and the ratio to the GraphicsMagick pair for each case:
#
#   jpg-png   camera JPEGs to PNG (Automatic depth)
#   jpg-gif   camera JPEGs to 8-bit dithered GIF (256 Color; peers: -colors 256)
#   jpg-jpg   camera JPEGs to JPEG (quality 25, as the viewer's component writes; peers too)
#   png-bmp   1080p PNGs to 24-bit BMP (True Color)
#   png-pcx   1080p PNGs to 8-bit PCX (256 Color; peers: -colors 256)
#
#   bench/convert_peers.sh JPG_DIR PNG_DIR [CASE...]   (all cases unless named)
#
# ROUNDS=N (default 1) times Pixmoor and the GraphicsMagick pair N times each, alternating which
# goes first, and reports the best of each; with perf installed each line also gives the CPUs
# used (perf stat's task-clock over the wall time of the processes).
#
# JPG_DIR and PNG_DIR are those of bench/make_convert_data.sh. Pixmoor's time is that of the
# command itself (its line from pixmoor-bench); the peers' is the wall time of their processes.
# Peak memory: Pixmoor's whole process; the pair's two processes added up. Every Pixmoor run is
# checked against a run of the same command with decoding ahead turned off (--serial): the
# files must be byte for byte the same.
# Needs a Release build in build/ (or PIXMOOR_BUILD=DIR), gm, ImageMagick and GNU time. A case
# takes from seconds (png-bmp) to many minutes (the peers' 256-colour reduction of camera JPEGs).
set -euo pipefail
jpg_dir=${1:?usage: $0 JPG_DIR PNG_DIR [CASE...]}
png_dir=${2:?usage: $0 JPG_DIR PNG_DIR [CASE...]}
shift 2
cases=("$@")
[ ${#cases[@]} -gt 0 ] || cases=(jpg-png jpg-gif jpg-jpg png-bmp png-pcx)
root=$(cd "$(dirname "$0")/.." && pwd)
bench=${PIXMOOR_BUILD:-$root/build}/bin/pixmoor-bench
[ -x "$bench" ] || { echo "missing $bench: build Release in build/ first" >&2; exit 1; }
for tool in gm mogrify /usr/bin/time; do
  command -v "$tool" > /dev/null || { echo "needs $tool" >&2; exit 1; }
done
jpg_dir=$(cd "$jpg_dir" && pwd)
png_dir=$(cd "$png_dir" && pwd)

scratch=$(mktemp -d "$(dirname "$jpg_dir")/convert-bench.XXXXXX")
trap 'rm -rf "$scratch"' EXIT

rounds=${ROUNDS:-1}
[[ "$rounds" =~ ^[1-9][0-9]*$ ]] || { echo "ROUNDS must be a positive number" >&2; exit 1; }
have_perf=no
perf stat -x, -e task-clock -o /dev/null true > /dev/null 2>&1 && have_perf=yes

# Seconds and peak kilobytes of one command, from GNU time.
timed() {
  local report="$scratch/time.$BASHPID"
  /usr/bin/time -f '%e %M' -o "$report" "$@" > /dev/null 2>&1 || { echo "failed: $*" >&2; return 1; }
  cat "$report"
}

# Runs a command under perf stat when there is one; its task-clock in milliseconds goes to $1.
counted() {
  local out=$1
  shift
  if [ "$have_perf" = yes ]; then
    perf stat -x, -e task-clock -o "$out" "$@"
  else
    : > "$out"
    "$@"
  fi
}
task_ms() { awk -F, '/task-clock/ { printf "%.0f", $1 }' "$1"; }
cpus() { awk -v ms="${1:-0}" -v s="$2" 'BEGIN { if (ms > 0 && s > 0) printf "%.2f", ms / 1000 / s; else printf "n/a" }'; }
elapsed() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", b - a }'; }

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", (b > 0) ? a / b : 0 }'; }
rate() { awk -v n="$1" -v s="$2" 'BEGIN { printf "%.2f", (s > 0) ? n / s : 0 }'; }

run_case() {
  local name=$1 src type format depth peer_args=()
  case "$name" in
    jpg-png) src=$jpg_dir type=jpg format=png depth=auto ;;
    jpg-gif) src=$jpg_dir type=jpg format=gif depth=256 peer_args=(-colors 256) ;;
    jpg-jpg) src=$jpg_dir type=jpg format=jpg depth=auto peer_args=(-quality 25) ;;
    png-bmp) src=$png_dir type=png format=bmp depth=true ;;
    png-pcx) src=$png_dir type=png format=pcx depth=256 peer_args=(-colors 256) ;;
    *) echo "unknown case $name" >&2; return 1 ;;
  esac
  # Bare names, the peers running in the source folder: gm mogrify puts a path given with the
  # name below its output directory.
  mapfile -t files < <(cd "$src" && find . -maxdepth 1 -type f -iname "*.$type" -printf '%f\n' | sort)
  local n=${#files[@]}
  [ "$n" -gt 0 ] || { echo "no .$type files in $src" >&2; return 1; }
  (cd "$src" && cat "${files[@]}" > /dev/null) # page cache warm

  # Pixmoor: the command's own time from its line; the CPUs over the whole process.
  local seconds="" peak="" cpu="" written=0
  run_pixmoor() {
    rm -rf "$scratch/px" && mkdir "$scratch/px"
    local line t0 t1 s
    t0=$(date +%s.%N)
    line=$(counted "$scratch/px.stat" "$bench" convert "$src" --type "$type" --to "$scratch/px" \
      --format "$format" --depth "$depth" 2> /dev/null | tail -1)
    t1=$(date +%s.%N)
    s=$(sed -n 's/.*seconds=\([0-9.]*\).*/\1/p' <<< "$line")
    [ -n "$s" ] || { echo "pixmoor-bench failed: $line" >&2; return 1; }
    if [ -z "$seconds" ] || awk -v a="$s" -v b="$seconds" 'BEGIN { exit !(a < b) }'; then
      seconds=$s
      peak=$(sed -n 's/.*peak_rss_mb=\([0-9.]*\).*/\1/p' <<< "$line")
      cpu=$(cpus "$(task_ms "$scratch/px.stat")" "$(elapsed "$t0" "$t1")")
    fi
    written=$(find "$scratch/px" -type f | wc -l)
  }

  # GraphicsMagick: the files in two halves, one process each.
  local half=$(((n + 1) / 2)) gm_seconds="" gm_peak="" gm_cpu="" gm_written=0
  run_gm() {
    rm -rf "$scratch/gm1" "$scratch/gm2" && mkdir "$scratch/gm1" "$scratch/gm2"
    local t0 t1 s
    t0=$(date +%s.%N)
    (cd "$src" && counted "$scratch/gm1.stat" /usr/bin/time -f '%e %M' -o "$scratch/gm1.time" \
      gm mogrify -output-directory "$scratch/gm1" -format "$format" "${peer_args[@]}" \
      "${files[@]:0:half}" > /dev/null 2>&1) &
    local first=$!
    (cd "$src" && counted "$scratch/gm2.stat" /usr/bin/time -f '%e %M' -o "$scratch/gm2.time" \
      gm mogrify -output-directory "$scratch/gm2" -format "$format" "${peer_args[@]}" \
      "${files[@]:half}" > /dev/null 2>&1) &
    wait "$first" && wait $!
    t1=$(date +%s.%N)
    s=$(elapsed "$t0" "$t1")
    gm_written=$(find "$scratch/gm1" "$scratch/gm2" -type f | wc -l)
    if [ -z "$gm_seconds" ] || awk -v a="$s" -v b="$gm_seconds" 'BEGIN { exit !(a < b) }'; then
      gm_seconds=$s
      gm_peak=$(cat "$scratch/gm1.time" "$scratch/gm2.time" | awk '{ s += $2 } END { printf "%.1f", s / 1024 }')
      local ms1 ms2
      ms1=$(task_ms "$scratch/gm1.stat")
      ms2=$(task_ms "$scratch/gm2.stat")
      gm_cpu=$(cpus "$(( ${ms1:-0} + ${ms2:-0} ))" "$s")
    fi
    rm -rf "$scratch/gm1" "$scratch/gm2"
  }

  local round
  for ((round = 1; round <= rounds; round++)); do
    if ((round % 2)); then run_pixmoor && run_gm; else run_gm && run_pixmoor; fi || return 1
  done

  # The same command without decoding ahead: the files must not differ.
  rm -rf "$scratch/serial" && mkdir "$scratch/serial"
  "$bench" convert "$src" --type "$type" --to "$scratch/serial" --format "$format" \
    --depth "$depth" --serial > /dev/null 2>&1
  local same=yes
  diff -rq "$scratch/px" "$scratch/serial" > /dev/null || same=NO

  # ImageMagick: one process with its own threads.
  rm -rf "$scratch/im" && mkdir "$scratch/im"
  local im im_seconds im_peak
  im=$(cd "$src" && timed mogrify -path "$scratch/im" -format "$format" "${peer_args[@]}" \
    "${files[@]}")
  local im_written
  im_written=$(find "$scratch/im" -type f | wc -l)
  im_seconds=${im% *}
  im_peak=$(awk -v k="${im#* }" 'BEGIN { printf "%.1f", k / 1024 }')
  rm -rf "$scratch/im" "$scratch/px" "$scratch/serial"

  echo "$name: files=$n written=$written same_as_serial=$same rounds=$rounds (best of each)"
  echo "  pixmoor:           seconds=$seconds files_per_s=$(rate "$n" "$seconds") peak_rss_mb=$peak cpus=$cpu"
  echo "  graphicsmagick x2: seconds=$gm_seconds files_per_s=$(rate "$n" "$gm_seconds") peak_rss_mb=$gm_peak (both) cpus=$gm_cpu written=$gm_written"
  echo "  imagemagick:       seconds=$im_seconds files_per_s=$(rate "$n" "$im_seconds") peak_rss_mb=$im_peak written=$im_written"
  echo "  ratio pixmoor/gm-pair=$(ratio "$gm_seconds" "$seconds") pixmoor/imagemagick=$(ratio "$im_seconds" "$seconds")"
}

for c in "${cases[@]}"; do run_case "$c"; done
