#!/usr/bin/env bash
# Makes the catalogue benchmark's directories under DIR (kept between runs; a directory already
# complete for the asked count is left as it is):
#   DIR/jpg  N camera-like JPEGs of 12 to 24 megapixels, mostly 4:2:0, every fifth progressive
#   DIR/png  N PNGs of about 1920 x 1080: photos, screenshots, some with alpha or a palette
#   DIR/bmp, DIR/gif, DIR/tif, DIR/pcx  N/3 images of 1920 x 1080 each
# N is 300 unless --count says otherwise (use a small count for quick runs, in another DIR).
# Generating is CPU-heavy: the work runs under nice. Needs Pillow (/usr/bin/python3).
set -euo pipefail

usage() { echo "usage: $0 [--count N] DIR" >&2; exit 2; }
count=300
dir=""
while [[ $# -gt 0 ]]; do
  case "$1" in
    --count) count="${2:?}"; shift 2 ;;
    -h|--help) usage ;;
    *) [[ -z "$dir" ]] || usage; dir="$1"; shift ;;
  esac
done
[[ -n "$dir" ]] || usage
[[ "$count" =~ ^[0-9]+$ && "$count" -ge 1 ]] || usage
mkdir -p "$dir"
# One generator at a time per directory: a second waits, then finds the work done.
exec 9>"$dir/.lock"
flock 9

exec nice -n 10 /usr/bin/python3 - "$dir" "$count" <<'PYTHON'
import os, random, sys
from PIL import Image, ImageChops, ImageDraw

root, count = sys.argv[1], int(sys.argv[2])
small = max(1, count // 3)
rnd = random.Random(20261207)

# Fine grain: one noise tile repeated, cheap to lay over any size, enough to give the
# compressors the entropy of a photograph (about 0.3 bytes per pixel as JPEG quality 90).
grain_tiles = {}
def grain(w, h, sigma):
    if sigma not in grain_tiles:
        grain_tiles[sigma] = Image.merge('RGB', [Image.effect_noise((1024, 1024), sigma) for _ in range(3)])
    tile = grain_tiles[sigma]
    out = Image.new('RGB', (w, h))
    for y in range(0, h, 1024):
        for x in range(0, w, 1024):
            out.paste(tile, (x, y))
    return out

def scene(w, h):
    """Photo-like: soft colour clouds (upscaled noise, like plasma) with some mid-scale detail."""
    cells = (rnd.randint(12, 30), rnd.randint(9, 22))
    clouds = Image.merge('RGB', [Image.effect_noise(cells, 80).resize((w, h), Image.BICUBIC) for _ in range(3)])
    detail = Image.merge('RGB', [Image.effect_noise((w // 16, h // 16), 40).resize((w, h), Image.BICUBIC) for _ in range(3)])
    return ImageChops.add(clouds, detail, 1.0, -128)

def photo(w, h, sigma=9):
    base = scene(1600, 1200) if w * h > 4_000_000 else scene(min(w, 1600), min(h, 1200))
    img = base.resize((w, h), Image.BICUBIC)
    return ImageChops.add(img, grain(w, h, sigma), 1.0, -128)

def screenshot(w, h):
    """Flat desktop: a background, windows with title bars, text lines and buttons."""
    bg = tuple(rnd.randint(40, 200) for _ in range(3))
    img = Image.new('RGB', (w, h), bg)
    d = ImageDraw.Draw(img)
    for _ in range(rnd.randint(3, 7)):
        x0, y0 = rnd.randint(0, w - 300), rnd.randint(0, h - 200)
        x1, y1 = min(w - 1, x0 + rnd.randint(300, 1100)), min(h - 1, y0 + rnd.randint(200, 700))
        d.rectangle((x0, y0, x1, y1), fill=(240, 240, 240), outline=(90, 90, 90))
        d.rectangle((x0, y0, x1, y0 + 24), fill=tuple(rnd.randint(0, 255) for _ in range(3)))
        for line in range(y0 + 34, y1 - 16, 16):
            words = ' '.join(rnd.choice(['image', 'file', 'view', 'thumb', 'size', '12 KB', 'Open', 'OK']) for _ in range(rnd.randint(2, 12)))
            d.text((x0 + 8, line), words, fill=(20, 20, 20))
        d.rectangle((x1 - 90, y1 - 34, x1 - 10, y1 - 10), fill=(210, 210, 220), outline=(60, 60, 60))
    return img

def with_alpha(img):
    w, h = img.size
    alpha = Image.linear_gradient('L').resize((w, h))
    d = ImageDraw.Draw(alpha)
    for _ in range(5):
        x, y, r = rnd.randint(0, w), rnd.randint(0, h), rnd.randint(50, 300)
        d.ellipse((x - r, y - r, x + r, y + r), fill=rnd.choice([0, 128, 255]))
    out = img.convert('RGBA')
    out.putalpha(alpha)
    return out

def done(sub, n):
    path = os.path.join(root, sub)
    os.makedirs(path, exist_ok=True)
    marker = os.path.join(path, '.complete-%d' % n)
    return path, marker, os.path.exists(marker)

def finish(marker):
    open(marker, 'w').close()
    print('made', os.path.dirname(marker), flush=True)

# Camera JPEGs.
path, marker, ok = done('jpg', count)
if not ok:
    sizes = [(4000, 3000), (4608, 3456), (5184, 3456), (5472, 3648), (6000, 4000)]
    for i in range(count):
        w, h = sizes[i % len(sizes)]
        if i % 7 == 3:
            w, h = h, w  # portrait
        img = photo(w, h)
        subsampling = 1 if i % 10 == 9 else 2  # mostly 4:2:0, some 4:2:2
        img.save(os.path.join(path, 'IMG_%04d.jpg' % (i + 1)), quality=rnd.choice([88, 90, 92, 95]),
                 subsampling=subsampling, progressive=(i % 5 == 4))
    finish(marker)

# A pool of 1080p pictures for the other formats.
pool = []
def pool_image(i):
    while len(pool) <= i % 24:
        k = len(pool)
        pool.append(photo(1920, 1080, 6) if k % 2 == 0 else screenshot(1920, 1080))
    img = pool[i % 24]
    if i >= 24:  # vary repeats a little: mirrored, shifted
        img = ImageChops.offset(img.transpose(Image.FLIP_LEFT_RIGHT) if (i // 24) % 2 else img, 37 * i, 11 * i)
    return img

path, marker, ok = done('png', count)
if not ok:
    for i in range(count):
        kind = i % 10
        if kind <= 3:
            img = photo(1920, 1080, 6)
        elif kind <= 7:
            img = screenshot(rnd.choice([1920, 1920, 1680]), rnd.choice([1080, 1080, 1050]))
        elif kind == 8:
            img = with_alpha(pool_image(i))
        else:
            img = pool_image(i).quantize(256)
        img.save(os.path.join(path, 'png_%04d.png' % (i + 1)))
    finish(marker)

path, marker, ok = done('bmp', small)
if not ok:
    for i in range(small):
        pool_image(i).save(os.path.join(path, 'bmp_%04d.bmp' % (i + 1)))
    finish(marker)

path, marker, ok = done('gif', small)
if not ok:
    for i in range(small):
        pool_image(i).quantize(256).save(os.path.join(path, 'gif_%04d.gif' % (i + 1)))
    finish(marker)

path, marker, ok = done('tif', small)
if not ok:
    for i in range(small):
        compression = ['raw', 'tiff_lzw', 'packbits'][i % 3]
        pool_image(i).save(os.path.join(path, 'tif_%04d.tif' % (i + 1)), compression=compression)
    finish(marker)

path, marker, ok = done('pcx', small)
if not ok:
    for i in range(small):
        img = pool_image(i)
        if i % 2:
            img = img.quantize(256)
        img.save(os.path.join(path, 'pcx_%04d.pcx' % (i + 1)))
    finish(marker)
PYTHON
