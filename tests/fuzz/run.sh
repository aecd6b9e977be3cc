#!/bin/bash
# Builds every libFuzzer target with clang into build-fuzz and runs each for a bounded time.
#   tests/fuzz/run.sh [SECONDS_PER_FUZZER] [FUZZER...]     (default 60 seconds, every fuzzer)
# Seeds come from tests/fixtures; each fuzzer keeps its growing corpus in build-fuzz/corpus/NAME.
# Crashes land in build-fuzz/artifacts/NAME/; copy each into tests/fixtures/codec/regressions/
# (or the subsystem's own folder) so the test suite replays it. Exit status 1 when any fuzzer
# found something.
set -u
root=$(cd "$(dirname "$0")/../.." && pwd)
build="$root/build-fuzz"
seconds=${1:-60}
shift || true

if ! command -v clang++ >/dev/null; then
  echo "run.sh: clang++ is needed for libFuzzer" >&2
  exit 2
fi
mkdir -p "$build"
CC=clang CXX=clang++ cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DPIXMOOR_FUZZ=ON -DPIXMOOR_TESTS=OFF -DPIXMOOR_BENCH=OFF >"$build/configure.log" 2>&1 || {
  echo "run.sh: configuring failed, see $build/configure.log" >&2
  exit 2
}

if [ $# -gt 0 ]; then
  fuzzers=("$@")
else
  mapfile -t fuzzers < <(cmake --build "$build" --target help | sed -n 's/^\.\.\. \(fuzz_[a-z0-9_]*\).*/\1/p' | sort)
fi
if [ ${#fuzzers[@]} -eq 0 ]; then
  echo "run.sh: no fuzz targets found" >&2
  exit 2
fi
cmake --build "$build" -j2 --target "${fuzzers[@]}" >"$build/build.log" 2>&1 || {
  echo "run.sh: building failed, see $build/build.log" >&2
  exit 2
}

# The fixtures that seed a fuzzer: files with its format's extensions, any file in a folder named
# after it, and every codec fixture for the information call.
seed() {
  local name=$1 corpus=$2 exts
  case $name in
    jpeg) exts="jpg jpeg" ;;
    tiff) exts="tif tiff" ;;
    info|thumbnail) find "$root/tests/fixtures/codec" -type f -exec cp -n {} "$corpus/" \; 2>/dev/null; return ;;
    thumb_jpeg) exts="jpg jpeg" ;;
    thumb_png) exts="png" ;;
    icon_png) exts="png ico" ;;
    *) exts=$name ;;
  esac
  for e in $exts; do
    find "$root/tests/fixtures" -type f -iname "*.$e" -exec cp -n {} "$corpus/" \; 2>/dev/null
  done
  find "$root/tests/fixtures" -type d -name "$name" -exec sh -c 'cp -n "$1"/* "$2"/ 2>/dev/null' _ {} "$corpus" \;
}

status=0
for fuzzer in "${fuzzers[@]}"; do
  name=${fuzzer#fuzz_}
  corpus="$build/corpus/$fuzzer"
  artifacts="$build/artifacts/$fuzzer"
  mkdir -p "$corpus" "$artifacts"
  seed "$name" "$corpus"
  before=$(ls "$artifacts" | wc -l)
  echo "== $fuzzer: $seconds s, $(ls "$corpus" | wc -l) inputs in the corpus"
  # System libraries Qt loads (fontconfig) keep memory to the end: the suite's suppressions apply.
  LSAN_OPTIONS="${LSAN_OPTIONS:-suppressions=$root/tests/support/lsan.supp:print_suppressions=0}" \
  ASAN_OPTIONS="${ASAN_OPTIONS:-}:detect_leaks=1:allocator_may_return_null=1" \
  "$build/bin/$fuzzer" "$corpus" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2560 \
    -max_len=65536 -artifact_prefix="$artifacts/" -print_final_stats=1 \
    >"$build/$fuzzer.log" 2>&1
  rc=$?
  tail -n 4 "$build/$fuzzer.log" | sed 's/^/   /'
  if [ $rc -ne 0 ] || [ "$(ls "$artifacts" | wc -l)" -gt "$before" ]; then
    echo "!! $fuzzer found a problem (exit $rc); inputs in $artifacts, log in $build/$fuzzer.log"
    status=1
  fi
done
exit $status
