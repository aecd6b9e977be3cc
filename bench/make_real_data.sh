#!/usr/bin/env bash
# Makes the catalogue benchmark's directories from real photographs (kept between runs; a
# directory already complete for the asked counts is left as it is):
#   DIR/jpg  N JPEGs at camera sizes (12, 16, 20 and 24 megapixels, some upright), baseline 4:2:0
#            and 4:2:2 at quality 85 to 95, one in twelve progressive, written by cjpeg
#   DIR/png  M PNGs of 1920 x 1080 to 2560 x 1440: two thirds photographs, one third screenshots
#            of a real X desktop (openbox, xedit, xman, xcalc, xclock, a photo viewer)
#   DIR/gif  M photographs reduced to 256 colours with Floyd-Steinberg dithering
#   DIR/tif  M photographs as LZW TIFF, half with the horizontal predictor
#   DIR/bmp  M 24-bit BMPs;  DIR/pcx  M PCX, half 8-bit (dithered palette), half 24-bit
# The photographs are the freely licensed desktop backgrounds that Debian ships in
# lomiri-wallpapers-16.04, lomiri-wallpapers-20.04, mate-backgrounds and
# plasma-workspace-wallpapers, fetched with apt-get download into DIR/.sources; DIR/SOURCES.txt
# keeps each photograph's copyright and licence lines from its package. The backgrounds are
# 4 to 20 megapixels and were saved at low bit rates, so each is brought to camera size with
# sensor-like luminance noise, which puts the JPEGs at the 2 to 4 bits a pixel that cameras
# write (photographic detail, not a flat synthetic pattern). Needs Pillow (/usr/bin/python3).
# With --exif OUT it also makes OUT/jpg: the camera JPEGs again, each carrying the thumbnail a
# camera stores in its EXIF block (160 pixels wide at most 120 high, the picture's proportions,
# reduced by ImageMagick from the picture and written by exiftool).
# With --hd OUT it also makes OUT/png, OUT/bmp, OUT/gif, OUT/tif and OUT/pcx, M files each, all at
# 1920 x 1080, the commonest files people browse: a third screenshots of a real X desktop, the
# rest wallpaper photographs; GIF dithered to 256 colours, TIFF LZW with and without predictor,
# PCX 24-bit and 8-bit, BMP 24-bit, PNG as ImageMagick writes it.
# usage: bench/make_real_data.sh [--jpg N] [--count M] [--exif OUT] [--hd OUT] DIR
#        (N 300, M 40 unless told)
set -euo pipefail

usage() { echo "usage: $0 [--jpg N] [--count M] [--exif OUT] [--hd OUT] DIR" >&2; exit 2; }
jpgs=300
count=40
exif=""
hd=""
dir=""
while [[ $# -gt 0 ]]; do
  case "$1" in
    --jpg) jpgs="${2:?}"; shift 2 ;;
    --count) count="${2:?}"; shift 2 ;;
    --exif) exif="${2:?}"; shift 2 ;;
    --hd) hd="${2:?}"; shift 2 ;;
    -h|--help) usage ;;
    *) [[ -z "$dir" ]] || usage; dir="$1"; shift ;;
  esac
done
[[ -n "$dir" && "$jpgs" =~ ^[0-9]+$ && "$count" =~ ^[0-9]+$ ]] || usage
for tool in apt-get dpkg-deb /usr/bin/python3 convert cjpeg ppmtopcx Xvfb openbox import xedit; do
  command -v "$tool" >/dev/null || { echo "$0: $tool is needed (bash scripts/deps.sh bench)" >&2; exit 2; }
done
mkdir -p "$dir"
dir="$(cd "$dir" && pwd)"
exec 9>"$dir/.lock"
flock 9

complete() { # complete TYPE COUNT: the directory holds exactly COUNT finished files
  [[ -f "$dir/$1/.done" && "$(cat "$dir/$1/.done")" == "$2" ]]
}

# The camera JPEGs with an EXIF thumbnail, in $exif/jpg (once DIR/jpg is complete).
exif_copies() {
  [[ -n "$exif" ]] || return 0
  command -v exiftool >/dev/null || { echo "$0: exiftool is needed (bash scripts/deps.sh bench)" >&2; exit 2; }
  mkdir -p "$exif"
  local out
  out="$(cd "$exif" && pwd)/jpg"
  [[ -f "$out/.done" && "$(cat "$out/.done")" == "$jpgs" ]] && return 0
  rm -rf "$out"; mkdir -p "$out"
  local thumbs f
  thumbs=$(mktemp -d /tmp/pixmoor-exif.XXXXXX)
  for f in "$dir"/jpg/*.JPG; do
    nice -n 1 convert "$f" -define jpeg:size=320x240 -thumbnail 160x120 -quality 90 "$thumbs/t.jpg"
    cp "$f" "$out/"
    nice -n 1 exiftool -q -q -overwrite_original "-ThumbnailImage<=$thumbs/t.jpg" "$out/${f##*/}"
  done
  rm -rf "$thumbs"
  echo "$jpgs" >"$out/.done"
}

hd_complete() { # the 1080p set is not asked for, or is there
  [[ -z "$hd" || ( -f "$hd/.done" && "$(cat "$hd/.done")" == "$count" ) ]]
}

if complete jpg "$jpgs" && complete png "$count" && complete gif "$count" &&
   complete tif "$count" && complete bmp "$count" && complete pcx "$count" && hd_complete; then
  exif_copies
  exit 0
fi

# ---- the photographs ----
src="$dir/.sources"
mkdir -p "$src"
packages=(lomiri-wallpapers-16.04 lomiri-wallpapers-20.04 mate-backgrounds plasma-workspace-wallpapers)
for p in "${packages[@]}"; do
  if [[ ! -d "$src/$p" ]]; then
    (cd "$src" && apt-get download "$p" >/dev/null 2>&1) || {
      echo "$0: apt-get download $p failed (network?)" >&2; exit 1; }
    mkdir -p "$src/$p.tmp"
    dpkg-deb -x "$src/${p}"_*.deb "$src/$p.tmp"
    mv "$src/$p.tmp" "$src/$p"
  fi
done
L16=$src/lomiri-wallpapers-16.04/usr/share/backgrounds
L20=$src/lomiri-wallpapers-20.04/usr/share/backgrounds
MATE=$src/mate-backgrounds/usr/share/backgrounds/mate/nature
KDE=$src/plasma-workspace-wallpapers/usr/share/wallpapers
# Photographs only (the packages also hold drawings and abstract art).
photos=(
  "$L16/Bridge_by_Sander_Klootwijk.jpg" "$L16/Dragonfly_by_Bolly.jpg"
  "$L16/Picture_0B_by_freespace.jpg" "$L16/Picture_1A_by_freespace.jpg"
  "$L16/Wine_by_Jakkub_Mede.jpg" "$L16/aitzgorri_by_Aitzol_Berasategi.jpg"
  "$L16/free_by_Peter_Nerlich.jpg" "$L16/friends_by_Aitzol_Berasategi.jpg"
  "$L16/life_by_Aitzol_Berasategi.jpg" "$L16/picosdeeuropa_by_Aitzol_Berasategi.jpg"
  "$L16/seeding_by_Clements_Engelhardt.jpg" "$L16/sunset_by_Aitzol_Berasategi.jpg"
  "$L20/Kleiber_by_Lukas_Baubkus.jpg"
)
for m in Aqua Blinds Dune FreshFlower Garden GreenMeadow LadyBird RainDrops Storm TwoWings Wood \
         YellowFlower; do
  photos+=("$MATE/$m.jpg")
done
for k in BytheWater ColdRipple ColorfulCups DarkestHour EveningGlow FallenLeaf Grey Path \
         OneStandsOut summer_1am Kite; do
  photos+=("$(ls -S "$KDE/$k/contents/images/"*.jpg | head -1)")
done
n=${#photos[@]}

# The copyright and licence lines of each photograph, from its package's copyright file.
{
  echo "Photographs used for the benchmark data (from Debian packages), with their licences:"
  for f in "${photos[@]}"; do
    pkg=${f#"$src/"}; pkg=${pkg%%/*}
    copyright="$src/$pkg/usr/share/doc/$pkg/copyright"
    base=$(basename "$f")
    key=$base
    [[ $pkg == plasma-workspace-wallpapers ]] && key=$(basename "$(dirname "$(dirname "$(dirname "$f")")")")
    lines=$(awk -v key="$key" 'BEGIN{RS=""} index($0, key) {print; exit}' "$copyright" |
            { grep -E '^(Copyright|License):' || true; } | tr '\n' ' ')
    [[ -n "$lines" ]] || lines=$({ grep -m2 -E '^(Copyright|License):' "$copyright" || true; } | tr '\n' ' ')
    echo "$pkg ${f#"$src/$pkg"}: $lines"
  done
} >"$dir/SOURCES.txt"

work=$(mktemp -d /tmp/pixmoor-realdata.XXXXXX)
trap 'rm -rf "$work"' EXIT
run() { nice -n 1 "$@"; }

# Pillow does the pixel work: a photograph brought to size (Lanczos) with luminance noise like a
# sensor's, about 2 to 4 bits a pixel as camera JPEGs.
noisy_py='
import subprocess, sys
from PIL import Image, ImageChops, ImageOps
def noisy(path, w, h, sigma):
    im = ImageOps.fit(Image.open(path).convert("RGB"), (w, h), Image.LANCZOS)
    return ImageChops.add(im, Image.effect_noise((w, h), sigma).convert("RGB"), 1.0, -128)
def ppm(im):
    return b"P6\n%d %d\n255\n" % im.size + im.tobytes()
'

# ---- JPEG: camera sizes ----
if ! complete jpg "$jpgs"; then
  rm -rf "$dir/jpg"; mkdir -p "$dir/jpg"
  # One Pillow process per photograph: its noisy 24-megapixel picture (upright or not) is made
  # once, and each file is a crop of it at a camera size, encoded by cjpeg.
  for ((k = 0; k < n; ++k)); do
    (( k < jpgs )) || break
    run /usr/bin/python3 -c "$noisy_py
path, k, n, count, out = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4]), sys.argv[5]
sizes = [(4000, 3000), (4608, 3456), (5472, 3648), (6000, 4000)]
bases = {}
for i in range(k, count, n):
    w, h = sizes[(i // n + k) % 4]
    upright = i % 7 == 3
    if upright: w, h = h, w
    if upright not in bases:
        bases.clear()
        bases[upright] = noisy(path, 4000 if upright else 6000, 6000 if upright else 4000, 9)
    base = bases[upright]
    x = (base.width - w) * (i % 5) // 4; y = (base.height - h) * (i % 3) // 2
    args = ['cjpeg', '-quality', str(85 + (i * 7) % 11), '-sample', '2x1' if i % 3 == 2 else '2x2']
    if i % 12 == 5: args.append('-progressive')
    with open('%s/IMG_%04d.JPG' % (out, i + 1), 'wb') as f:
        subprocess.run(args, input=ppm(base.crop((x, y, x + w, y + h))), stdout=f, check=True)
" "${photos[$k]}" "$k" "$n" "$jpgs" "$dir/jpg"
  done
  echo "$jpgs" >"$dir/jpg/.done"
fi

# A photograph K at WxH (centre crop), noisy like the JPEGs, as PPM on stdout.
photo() {
  run /usr/bin/python3 -c "$noisy_py
sys.stdout.buffer.write(ppm(noisy(sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), 5)))" \
    "${photos[$1]}" "$2" "$3"
}
screen_sizes=(1920x1080 2560x1440 1920x1200 2560x1600)
photo_sizes=(1920x1280 2560x1440 3000x2000 4000x3000)

# ---- PNG: photographs and screenshots ----
screenshots() { # screenshots COUNT OUTDIR: real X desktops at varied sizes and contents
  local total=$1 out=$2 s
  for ((s = 0; s < total; ++s)); do
    local size=${screen_sizes[$((s % 4))]} display=:$((90 + s % 5))
    local w=${size%x*} h=${size#*x}
    Xvfb "$display" -screen 0 "${w}x${h}x24" -nolisten tcp >/dev/null 2>&1 &
    local xvfb=$!
    sleep 1
    (
      export DISPLAY=$display
      run convert "${photos[$(((s * 5) % n))]}" -resize "${w}x${h}^" -gravity center \
        -extent "${w}x${h}" "$work/wall.png"
      display -window root "$work/wall.png" &
      openbox >/dev/null 2>&1 &
      sleep 0.5
      xedit -geometry 760x900+$((40 + s * 30))+40 "$0" >/dev/null 2>&1 &
      xman -geometry 500x700+$((w / 2))+$((60 + s * 10)) >/dev/null 2>&1 &
      xcalc -geometry +$((w - 400))+$((h - 500)) >/dev/null 2>&1 &
      xclock -geometry 200x200+$((w - 260))+40 -update 1 >/dev/null 2>&1 &
      display -geometry +$((w / 3))+$((h / 3)) -resize 800x600 "${photos[$(((s * 3 + 1) % n))]}" &
      sleep 3
      import -window root "$out/$(printf 'Screenshot_%02d.png' $((s + 1)))"
      kill $(jobs -p) 2>/dev/null || true
    )
    kill "$xvfb" 2>/dev/null || true
    wait "$xvfb" 2>/dev/null || true
  done
}
if ! complete png "$count"; then
  rm -rf "$dir/png"; mkdir -p "$dir/png"
  shots=$((count / 3))
  screenshots "$shots" "$dir/png"
  for ((i = shots; i < count; ++i)); do
    size=${screen_sizes[$((i % 4))]}
    photo $(((i * 7) % n)) "${size%x*}" "${size#*x}" |
      run convert ppm:- "$dir/png/$(printf 'photo_%04d.png' $((i + 1)))"
  done
  echo "$count" >"$dir/png/.done"
fi

# ---- GIF, TIFF, BMP, PCX: photographs at editor and scanner sizes ----
if ! complete gif "$count"; then
  rm -rf "$dir/gif"; mkdir -p "$dir/gif"
  for ((i = 0; i < count; ++i)); do
    size=${photo_sizes[$((i % 3))]}
    photo $(((i * 11 + 3) % n)) "${size%x*}" "${size#*x}" |
      run convert ppm:- -dither FloydSteinberg -colors 256 "$dir/gif/$(printf 'gif_%04d.gif' $((i + 1)))"
  done
  echo "$count" >"$dir/gif/.done"
fi
if ! complete tif "$count"; then
  rm -rf "$dir/tif"; mkdir -p "$dir/tif"
  for ((i = 0; i < count; ++i)); do
    size=${photo_sizes[$((i % 4))]}
    predictor=1; [[ $((i % 2)) == 1 ]] && predictor=2
    photo $(((i * 13 + 5) % n)) "${size%x*}" "${size#*x}" |
      run convert ppm:- -type TrueColor -compress LZW -define tiff:predictor=$predictor \
        "$dir/tif/$(printf 'scan_%04d.tif' $((i + 1)))"
  done
  echo "$count" >"$dir/tif/.done"
fi
if ! complete bmp "$count"; then
  rm -rf "$dir/bmp"; mkdir -p "$dir/bmp"
  for ((i = 0; i < count; ++i)); do
    size=${photo_sizes[$((i % 4))]}
    photo $(((i * 17 + 7) % n)) "${size%x*}" "${size#*x}" |
      run convert ppm:- -type TrueColor "BMP3:$dir/bmp/$(printf 'bmp_%04d.bmp' $((i + 1)))"
  done
  echo "$count" >"$dir/bmp/.done"
fi
if ! complete pcx "$count"; then
  rm -rf "$dir/pcx"; mkdir -p "$dir/pcx"
  for ((i = 0; i < count; ++i)); do
    size=${photo_sizes[$((i % 3))]}
    out="$dir/pcx/$(printf 'pcx_%04d.pcx' $((i + 1)))"
    if ((i % 2 == 0)); then
      photo $(((i * 19 + 9) % n)) "${size%x*}" "${size#*x}" | run ppmtopcx -24bit >"$out" 2>/dev/null
    else
      photo $(((i * 19 + 9) % n)) "${size%x*}" "${size#*x}" |
        run convert ppm:- -dither FloydSteinberg -colors 256 ppm:- | run ppmtopcx -8bit >"$out" 2>/dev/null
    fi
  done
  echo "$count" >"$dir/pcx/.done"
fi
exif_copies

# ---- the 1080p set ----
if ! hd_complete; then
  mkdir -p "$hd"
  hd="$(cd "$hd" && pwd)"
  rm -f "$hd/.done"
  sources="$work/hd"
  rm -rf "$sources"; mkdir -p "$sources"
  shots=$((count / 3))
  screen_sizes=(1920x1080 1920x1080 1920x1080 1920x1080)
  screenshots "$shots" "$sources"
  for ((i = shots; i < count; ++i)); do
    photo $(((i * 23 + 2) % n)) 1920 1080 | run convert ppm:- "$sources/$(printf 'photo_%04d.png' $((i + 1)))"
  done
  for type in png bmp gif tif pcx; do rm -rf "$hd/$type"; mkdir -p "$hd/$type"; done
  i=0
  for f in "$sources"/*.png; do
    base=$(basename "$f" .png)
    cp "$f" "$hd/png/$base.png"
    run convert "$f" -type TrueColor "BMP3:$hd/bmp/$base.bmp"
    run convert "$f" -dither FloydSteinberg -colors 256 "$hd/gif/$base.gif"
    run convert "$f" -type TrueColor -compress LZW -define tiff:predictor=$((1 + i % 2)) "$hd/tif/$base.tif"
    if ((i % 2 == 0)); then
      run convert "$f" ppm:- | run ppmtopcx -24bit >"$hd/pcx/$base.pcx" 2>/dev/null
    else
      run convert "$f" -dither FloydSteinberg -colors 256 ppm:- | run ppmtopcx -8bit >"$hd/pcx/$base.pcx" 2>/dev/null
    fi
    i=$((i + 1))
  done
  echo "$count" >"$hd/.done"
fi
