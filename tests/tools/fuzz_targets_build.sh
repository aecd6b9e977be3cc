#!/usr/bin/env bash
# Configures a clang build with the libFuzzer targets and builds every one of them.
#   fuzz_targets_build.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
source=$1 build=$2
CC=clang CXX=clang++ cmake -S "$source" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DPIXMOOR_FUZZ=ON -DPIXMOOR_TESTS=OFF -DPIXMOOR_BENCH=OFF >"$build.configure.log" 2>&1 ||
  { cat "$build.configure.log"; exit 1; }
mapfile -t fuzzers < <(cmake --build "$build" --target help | sed -n 's/^\.\.\. \(fuzz_[a-z0-9_]*\).*/\1/p' | sort)
[ ${#fuzzers[@]} -gt 0 ] || { echo "no fuzz targets found"; exit 1; }
echo "building: ${fuzzers[*]}"
cmake --build "$build" -j"$(nproc)" --target "${fuzzers[@]}" 2>&1 | grep -E "error|Error|undefined" || true
missing=0
for f in "${fuzzers[@]}"; do
  [ -x "$build/bin/$f" ] || { echo "not built: $f"; missing=1; }
done
exit $missing
