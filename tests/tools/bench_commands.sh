#!/usr/bin/env bash
# Runs every pixmoor-bench command with valid arguments on a few small files: each must end with
# its result line, never with the usage text.
#   bench_commands.sh PATH/TO/pixmoor-bench
set -u
bench=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/src" "$work/home" "$work/converted" "$work/serial" "$work/copied" "$work/moved"
for i in 1 2 3; do
  convert -size 64x48 "plasma:" -seed $i "$work/src/p$i.png" 2>/dev/null ||
    convert -size 64x48 "gradient:red-blue" "$work/src/p$i.png"
done
export HOME="$work/home" XDG_CONFIG_HOME="$work/home/config" XDG_CACHE_HOME="$work/home/cache"

failures=0
# NAME EXPECTED-LAST-LINE-PREFIX ARGS...
check() {
  local name=$1 expected=$2
  shift 2
  local out
  out=$(cd "$work" && timeout 300 "$bench" "$@" 2>"$work/$name.err")
  local status=$?
  local last
  last=$(printf '%s\n' "$out" | tail -n 1)
  if [ $status -ne 0 ] || grep -q '^usage:' "$work/$name.err" || [[ $last != "$expected"* ]] ||
    grep -q '^message boxes answered' <<<"$out"; then
    echo "FAIL $name (exit $status): $*"
    echo "  last line: $last"
    sed 's/^/  stderr: /' "$work/$name.err" | tail -n 5
    failures=$((failures + 1))
  else
    echo "ok   $name: $last"
  fi
}

check catalogue files=3 catalogue "$work/src" --type png --size 40x40 --view report --visits 2
check catalogue-nocache files=3 catalogue "$work/src" --type png --no-cache
check pipeline files=3 pipeline "$work/src" --type png --size 30x30
check quality "" quality "$work/src" --type png
check copy files=3 copy "$work/src" --type png --to "$work/copied"
check move files=3 copy "$work/copied" --type png --to "$work/moved" --move
check convert files=3 convert "$work/src" --type png --to "$work/converted" --format bmp --depth 256
check convert-serial files=3 convert "$work/src" --type png --to "$work/serial" --format jpg --depth true --serial
check print-sheet files=3 print-sheet "$work/src" --type png --pdf "$work/sheet.pdf"
# The SANE driver is unloaded at the end, so a leak inside it cannot be named or suppressed.
ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0 check scan pixels= scan --dpi 25
[ -s "$work/sheet.pdf" ] || { echo "FAIL print-sheet wrote no PDF"; failures=$((failures + 1)); }
for f in p1 p2 p3; do
  [ -f "$work/moved/$f.png" ] && [ ! -e "$work/copied/$f.png" ] ||
    { echo "FAIL move: $f.png not moved"; failures=$((failures + 1)); }
  [ -f "$work/converted/$f.bmp" ] || { echo "FAIL convert: no $f.bmp"; failures=$((failures + 1)); }
done
exit $((failures > 0))
