#!/usr/bin/env bash
# Times Pixmoor's catalogue build against thumbnail makers on the same files in the same run and
# prints files per second and the ratios:
#   pixmoor   build/bin/pixmoor-bench catalogue (the real main window, offscreen)
#   gm        GraphicsMagick with its size hint: gm mogrify -size 140x140 -thumbnail 70x70
#   vips      vipsthumbnail -s 70x70
#   im        ImageMagick: mogrify -define jpeg:size=140x140 -thumbnail 70x70
# Every peer runs as two processes, each on half the files (one thread each), so it uses both
# cores as Pixmoor's decode-ahead does; the mogrify peers work on copies in a scratch folder.
# The files are read once beforehand, so every contender finds them in the page cache. Each
# contender runs --repeat times (default 2), turn about, and its best time counts: on a shared
# machine that is the figure least disturbed by other work.
#
# Every Pixmoor run is a first visit: it gets an empty private XDG_CACHE_HOME, so no thumbnail
# cache can flatter it.
#
# usage: bench/catalogue_peers.sh [--data DIR] [--synthetic] [--count N] [--jpg N]
#                                 [--exif DIR] [--hd DIR] [--types "jpg png ..."]
#                                 [--size WxH] [--view icon|report] [--bin PIXMOOR_BENCH]
#                                 [--pipeline] [--repeat N] [--peers "gm vips im"]
# --pipeline times the thumbnail pipeline alone (pixmoor-bench pipeline) instead of the window.
# The data (default /work/bench-data/real) is made from real photographs by
# bench/make_real_data.sh when missing: 300 camera JPEGs and N (default 40) files of each other
# type; --jpg N asks for N camera JPEGs instead of 300. --exif DIR times the camera JPEGs that
# carry an EXIF thumbnail instead (DIR/jpg, made by make_real_data.sh --exif DIR). --hd DIR times
# the 1080p set instead for PNG, BMP, GIF, TIFF and PCX (DIR/TYPE, made by make_real_data.sh --hd).
# --synthetic uses the older generated set of bench/make_catalogue_data.sh instead
# (default /work/bench-data/catalogue, N files a type, default 300).
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
root="$(dirname "$here")"
data=""
synthetic=0
count=""
jpgs=300
exif=""
hd=""
types="jpg png bmp gif tif pcx"
size=70x70
view=icon
bin="$root/build/bin/pixmoor-bench"
command=catalogue
repeat=2
peers="gm vips im"
while [[ $# -gt 0 ]]; do
  case "$1" in
    --data) data="${2:?}"; shift 2 ;;
    --synthetic) synthetic=1; shift ;;
    --count) count="${2:?}"; shift 2 ;;
    --jpg) jpgs="${2:?}"; shift 2 ;;
    --exif) exif="${2:?}"; shift 2 ;;
    --hd) hd="${2:?}"; shift 2 ;;
    --types) types="${2:?}"; shift 2 ;;
    --size) size="${2:?}"; shift 2 ;;
    --view) view="${2:?}"; shift 2 ;;
    --bin) bin="${2:?}"; shift 2 ;;
    --pipeline) command=pipeline; shift ;;
    --repeat) repeat="${2:?}"; shift 2 ;;
    --peers) peers="${2:?}"; shift 2 ;;
    *) echo "usage: $0 [--data DIR] [--count N] [--types \"jpg png ...\"] [--size WxH] [--view icon|report] [--bin FILE]" >&2; exit 2 ;;
  esac
done
[[ -x "$bin" ]] || { echo "no $bin: cmake -S $root -B $root/build -DCMAKE_BUILD_TYPE=Release -DPIXMOOR_TESTS=OFF && cmake --build $root/build -j2 --target pixmoor-bench" >&2; exit 1; }
if [[ -f "$(dirname "$(dirname "$bin")")/CMakeCache.txt" ]] &&
   ! grep -q '^CMAKE_BUILD_TYPE:STRING=Release' "$(dirname "$(dirname "$bin")")/CMakeCache.txt"; then
  echo "warning: $bin is not a Release build" >&2
fi
w="${size%x*}"; h="${size#*x}"
hint="$((2 * w))x$((2 * h))"

if (( synthetic )); then
  data=${data:-/work/bench-data/catalogue}
  bash "$here/make_catalogue_data.sh" --count "${count:-300}" "$data" >&2
else
  data=${data:-/work/bench-data/real}
  bash "$here/make_real_data.sh" --jpg "$jpgs" --count "${count:-40}" ${exif:+--exif "$exif"} ${hd:+--hd "$hd"} "$data" >&2
fi

scratch="$(mktemp -d /tmp/pixmoor-peers.XXXXXX)"
trap 'rm -rf "$scratch"' EXIT

now() { date +%s.%N; }

# The files of a type, as the catalogue finds them.
files_of() { find "$1" -maxdepth 1 -type f -iname "*.$2" | sort; }

# Splits the files of $1 (type $2) into two halves copied to $3/a and $3/b.
split_copies() {
  local dir="$1" type="$2" out="$3" i=0
  rm -rf "$out"; mkdir -p "$out/a" "$out/b"
  while IFS= read -r f; do
    if (( i % 2 == 0 )); then cp "$f" "$out/a/"; else cp "$f" "$out/b/"; fi
    i=$((i + 1))
  done < <(files_of "$dir" "$type")
}

# Runs "$@" on the files of $halves/a and $halves/b as two processes; prints the seconds taken.
# The command gets the files as its last arguments; it must write into its own folder.
time_pair() {
  local halves="$1"; shift
  local start end status=0
  start=$(now)
  ( cd "$halves/a" && OMP_NUM_THREADS=1 VIPS_CONCURRENCY=1 "$@" ./* >/dev/null 2>&1 ) & local pa=$!
  ( cd "$halves/b" && OMP_NUM_THREADS=1 VIPS_CONCURRENCY=1 "$@" ./* >/dev/null 2>&1 ) & local pb=$!
  wait "$pa" || status=1
  wait "$pb" || status=1
  end=$(now)
  if (( status != 0 )); then echo "failed"; else echo "$end - $start" | bc -l; fi
}

best() { # the smaller of two times, "failed" losing to any
  if [[ "$1" == failed ]]; then echo "$2"; elif [[ "$2" == failed ]]; then echo "$1";
  elif (( $(echo "$1 < $2" | bc -l) )); then echo "$1"; else echo "$2"; fi
}

rate() { # files seconds
  if [[ "$2" == failed ]]; then echo "n/a"; else printf '%.2f' "$(echo "$1 / $2" | bc -l)"; fi
}
ratio() { # ours theirs
  if [[ "$2" == n/a || "$1" == n/a ]]; then echo "n/a"; else printf '%.2f' "$(echo "$1 / $2" | bc -l)"; fi
}

printf '%-5s %6s %10s %10s %10s %10s %8s %8s %8s %8s %9s\n' type files pixmoor gm-pair vips-pair \
  im-pair xgm xvips xim rss_mb stall_ms
summary=()
for type in $types; do
  dir="$data/$type"
  [[ -n "$exif" && $type == jpg ]] && dir="$exif/jpg"
  [[ -n "$hd" && $type != jpg ]] && dir="$hd/$type"
  [[ -d "$dir" ]] || { echo "no $dir" >&2; continue; }
  n=$(files_of "$dir" "$type" | wc -l)
  (( n > 0 )) || continue
  files_of "$dir" "$type" | xargs cat > /dev/null

  ours=""; rss=""; stall=""; built=""; gm_s=failed; im_s=failed; vips_s=failed
  for ((round = 0; round < repeat; round++)); do
    cache="$scratch/cache"
    rm -rf "$cache"; mkdir -p "$cache"
    if [[ $command == catalogue ]]; then
      line=$(XDG_CACHE_HOME="$cache" "$bin" catalogue "$dir" --type "$type" --size "$size" --view "$view" 2>/dev/null | tail -n 1)
    else
      line=$(XDG_CACHE_HOME="$cache" "$bin" pipeline "$dir" --type "$type" --size "$size" 2>/dev/null | tail -n 1)
    fi
    rm -rf "$cache"
    r=$(sed -n 's/.*files_per_s=\([0-9.]*\).*/\1/p' <<<"$line")
    [[ -n "$r" ]] || { echo "pixmoor-bench gave no result for $type: $line" >&2; continue; }
    if [[ -z "$ours" ]] || (( $(echo "$r > $ours" | bc -l) )); then ours=$r; fi
    m=$(sed -n 's/.*peak_rss_mb=\([0-9.]*\).*/\1/p' <<<"$line")
    t=$(sed -n 's/.*max_stall_ms=\([0-9.]*\).*/\1/p' <<<"$line")
    # Memory and stall: the worst seen, not the best.
    if [[ -z "$rss" ]] || (( $(echo "$m > $rss" | bc -l) )); then rss=$m; fi
    if [[ -z "$stall" ]] || (( $(echo "$t > $stall" | bc -l) )); then stall=$t; fi
    built=$(sed -n 's/^files=\([0-9]*\).*/\1/p' <<<"$line")

    if [[ " $peers " == *" gm "* ]]; then
      split_copies "$dir" "$type" "$scratch/gm"
      gm_s=$(best "$gm_s" "$(time_pair "$scratch/gm" gm mogrify -size "$hint" -thumbnail "$size")")
    fi
    if [[ " $peers " == *" im "* ]]; then
      split_copies "$dir" "$type" "$scratch/im"
      im_s=$(best "$im_s" "$(time_pair "$scratch/im" mogrify -define "jpeg:size=$hint" -thumbnail "$size")")
    fi
    if [[ " $peers " == *" vips "* ]]; then
      split_copies "$dir" "$type" "$scratch/vips"
      vips_s=$(best "$vips_s" "$(time_pair "$scratch/vips" vipsthumbnail -s "$size" -o 'thumb_%s.jpg')")
    fi
    rm -rf "$scratch/gm" "$scratch/im" "$scratch/vips"
  done
  [[ -n "$ours" ]] || ours=n/a
  [[ "$built" == "$n" ]] || echo "warning: pixmoor-bench catalogued ${built:-0} of $n $type files" >&2

  gm_r=$(rate "$n" "$gm_s"); vips_r=$(rate "$n" "$vips_s"); im_r=$(rate "$n" "$im_s")
  printf '%-5s %6d %10s %10s %10s %10s %8s %8s %8s %8s %9s\n' "$type" "$n" "$ours" "$gm_r" \
    "$vips_r" "$im_r" "$(ratio "$ours" "$gm_r")" "$(ratio "$ours" "$vips_r")" \
    "$(ratio "$ours" "$im_r")" "${rss:-?}" "${stall:-?}"
  summary+=("$type x$(ratio "$ours" "$gm_r") vs gm-pair")
done
echo "files per second; x columns are Pixmoor's files/s divided by the peer's (size $size, $view view)${exif:+; JPEGs with EXIF thumbnails}"
echo "first-visit targets: x gm-pair jpg >= 1.5, png >= 1.8, bmp >= 1.2, gif >= 1.5, tif >= 1.3, pcx >= 2.0; stall <= 100 ms; rss < 200 MB"
printf '%s\n' "${summary[@]}"
