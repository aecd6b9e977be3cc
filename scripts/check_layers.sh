#!/usr/bin/env bash
# Checks that every include of the source tree points down the subsystem order, never up:
#   imaging/codec (pure C++, only itself) < platform < imaging/wmf < imaging < catalogue
#   < operations, acquire, files, printing, help (each may use the others) < app
# Tools and benchmarks stand outside the order. Prints each offending include; exit status 1
# when there is one.
set -euo pipefail
cd "$(dirname "$0")/.."

rank() {
  case "$1" in
    imaging/codec) echo 0 ;;
    platform) echo 1 ;;
    imaging/wmf) echo 2 ;;
    imaging) echo 3 ;;
    catalogue) echo 4 ;;
    operations|acquire|files|printing|help) echo 5 ;;
    app) echo 6 ;;
    *) echo "" ;;
  esac
}

# The subsystem of a path: imaging/codec and imaging/wmf before imaging.
subsystem() {
  case "$1" in
    imaging/codec/*) echo imaging/codec ;;
    imaging/wmf/*) echo imaging/wmf ;;
    *) echo "${1%%/*}" ;;
  esac
}

status=0
while IFS= read -r file; do
  from=$(subsystem "$file")
  fromRank=$(rank "$from")
  [ -n "$fromRank" ] || continue
  while IFS= read -r target; do
    to=$(subsystem "$target")
    toRank=$(rank "$to")
    [ -n "$toRank" ] || continue
    if [ "$from" = imaging/codec ] && [ "$to" != imaging/codec ]; then
      echo "$file includes $target: the codec library includes only itself"
      status=1
    elif [ "$toRank" -gt "$fromRank" ]; then
      echo "$file includes $target: $from may not depend on $to"
      status=1
    fi
  done < <(sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([^"]*\)".*/\1/p' "$file")
done < <(git ls-files -co --exclude-standard -- '*.cpp' '*.h' | grep -v '^tests/\|^tools/\|^bench/')
exit $status
