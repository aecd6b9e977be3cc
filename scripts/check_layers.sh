#!/usr/bin/env bash
# Checks that every include of the source tree points down the subsystem layers of
# cmake/layers.txt, never up nor sideways to another subsystem of the same layer; the codec
# library (imaging/codec, pure C++) includes only itself. Tools and benchmarks stand outside the
# layers. Prints each offending include; exit status 1 when there is one.
set -euo pipefail
cd "$(dirname "$0")/.."

# The layer of each subsystem folder: its line in the list, counting from 0.
declare -A layer=()
n=0
while read -r line; do
  [[ -z "$line" || "$line" == \#* ]] && continue
  for dir in $line; do layer[$dir]=$n; done
  n=$((n + 1))
done < cmake/layers.txt

# The subsystem of a path: the longest listed folder it lies in (imaging/codec before imaging).
subsystem() {
  local best="" dir
  for dir in "${!layer[@]}"; do
    if [[ "$1" == "$dir"/* && ${#dir} -gt ${#best} ]]; then best=$dir; fi
  done
  echo "$best"
}

status=0
while IFS= read -r file; do
  from=$(subsystem "$file")
  [ -n "$from" ] || continue
  while IFS= read -r target; do
    to=$(subsystem "$target")
    [ -n "$to" ] && [ "$to" != "$from" ] || continue
    if [ "$from" = imaging/codec ]; then
      echo "$file includes $target: the codec library includes only itself"
      status=1
    elif [ "${layer[$to]}" -ge "${layer[$from]}" ]; then
      echo "$file includes $target: $from may not depend on $to"
      status=1
    fi
  done < <(sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([^"]*\)".*/\1/p' "$file")
done < <(git ls-files -co --exclude-standard -- '*.cpp' '*.h' | grep -v '^tests/\|^tools/\|^bench/')
exit $status
