#!/usr/bin/env bash
# Builds folders of hostile files and times the real catalogue build of each (pixmoor-bench,
# offscreen, an empty private thumbnail cache unless one is planted), reporting seconds per file
# and peak memory:
#   ico    six 300 KB icons, each a 1x1 PNG with 40 zTXt chunks that inflate to 7.5 MB apiece
#   tif    six 16384 x 16384 bilevel Group 4 TIFFs stored with orientation 6 (about 50 KB each)
#   cache  six small JPEGs whose shared-cache entries are 1x1 PNGs with 100 such chunks and
#          valid keys (what anything that can write the user's cache could plant)
# usage: bench/hostile_folder.sh [--bin PIXMOOR_BENCH] [--keep DIR]
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$(dirname "$here")"
bin="$root/build/bin/pixmoor-bench"
keep=""
while [[ $# -gt 0 ]]; do
  case "$1" in
    --bin) bin=$2; shift 2 ;;
    --keep) keep=$2; shift 2 ;;
    *) echo "usage: $0 [--bin PIXMOOR_BENCH] [--keep DIR]" >&2; exit 2 ;;
  esac
done
work=${keep:-$(mktemp -d)}
[ -n "$keep" ] || trap 'rm -rf "$work"' EXIT
mkdir -p "$work/ico" "$work/tif" "$work/jpg" "$work/cache/thumbnails/normal"

python3 - "$work" <<'PY'
import hashlib, os, struct, sys, zlib
work = sys.argv[1]

def chunk(kind, body):
    return struct.pack('>I', len(body)) + kind + body + struct.pack('>I', zlib.crc32(kind + body) & 0xffffffff)

def bomb_png(chunks, keys=()):
    ihdr = struct.pack('>IIBBBBB', 1, 1, 8, 2, 0, 0, 0)
    out = b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', ihdr)
    for k, v in keys:
        out += chunk(b'tEXt', k + b'\0' + v)
    bomb = zlib.compress(b'a' * 7_500_000, 9)  # under libpng's 8 MB cap on one chunk
    for i in range(chunks):
        out += chunk(b'zTXt', b'Comment%d' % i + b'\0\0' + bomb)
    out += chunk(b'IDAT', zlib.compress(b'\0\xff\xff\xff')) + chunk(b'IEND', b'')
    return out

png = bomb_png(40)
for i in range(6):
    entry = struct.pack('<BBBBHHII', 1, 1, 0, 0, 1, 32, len(png), 6 + 16)
    with open(os.path.join(work, 'ico', 'bomb%d.ico' % i), 'wb') as f:
        f.write(struct.pack('<HHH', 0, 1, 1) + entry + png)

def uri(path):
    keep = set(b'ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-._~/!$&\'()*+,=:@')
    return b'file://' + b''.join(bytes([c]) if c in keep else b'%%%02X' % c for c in path)

for i in range(6):
    path = os.path.join(work, 'jpg', 'p%d.jpg' % i).encode()
    os.system("convert -size 320x240 plasma: -seed %d '%s' 2>/dev/null || convert -size 320x240 gradient: '%s'" % (i, path.decode(), path.decode()))
    st = os.stat(path)
    u = uri(path)
    keys = [(b'Thumb::URI', u), (b'Thumb::MTime', str(int(st.st_mtime)).encode()),
            (b'Thumb::Size', str(st.st_size).encode())]
    name = hashlib.md5(u).hexdigest() + '.png'
    target = os.path.join(work, 'cache', 'thumbnails', 'normal', name)
    with open(target, 'wb') as f:
        f.write(bomb_png(100, keys))
    os.chmod(target, 0o600)
os.chmod(os.path.join(work, 'cache', 'thumbnails', 'normal'), 0o700)
os.chmod(os.path.join(work, 'cache', 'thumbnails'), 0o700)
PY

pbmmake -white 16384 16384 | pnmtotiff -g4 >"$work/tif/g4-0.tif" 2>/dev/null
tiffset -s 274 6 "$work/tif/g4-0.tif"
for i in 1 2 3 4 5; do cp "$work/tif/g4-0.tif" "$work/tif/g4-$i.tif"; done

run() {
  local name=$1 type=$2 dir=$3
  shift 3
  local line
  line=$(QT_QPA_PLATFORM=offscreen "$bin" catalogue "$dir" --type "$type" "$@" | tail -n 1)
  local files seconds rss
  files=$(sed -n 's/.*files=\([0-9]*\).*/\1/p' <<<"$line")
  seconds=$(sed -n 's/.*seconds=\([0-9.]*\).*/\1/p' <<<"$line")
  rss=$(sed -n 's/.*peak_rss_mb=\([0-9.]*\).*/\1/p' <<<"$line")
  printf '%-6s files=%s seconds=%s s_per_file=%.3f peak_rss_mb=%s\n' "$name" "$files" "$seconds" \
    "$(awk -v s="$seconds" -v f="$files" 'BEGIN { print (f > 0 ? s / f : 0) }')" "$rss"
}
ls -la "$work/ico" "$work/tif" | grep -E '\.(ico|tif)$' | awk '{ print $5, $9 }'
run ico ico "$work/ico"
run tif tif "$work/tif"
run cache jpg "$work/jpg" --cache-home "$work/cache"
