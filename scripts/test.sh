#!/usr/bin/env bash
# Installs the dependencies, builds everything with AddressSanitizer and UndefinedBehaviorSanitizer
# in build-test/ and runs the whole suite headless: offscreen Qt, and one Xvfb server for the
# tests that need X11.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh test
# The build's and the tests' own run times close the output, also when a test fails.
build_start=$SECONDS
cmake -S . -B build-test -DCMAKE_BUILD_TYPE=Debug -DPIXMOOR_SANITIZE=ON -DPIXMOOR_TESTS=ON
cmake --build build-test -j"$(nproc)"
build_time=$((SECONDS - build_start))
# Tests make their files in a private temporary folder, removed afterwards: nothing else in /tmp
# can disturb them (a directory tree shown beside hundreds of other folders, say).
# Others may enter it: the private print queue's filters run as the lp user.
TMPDIR=$(mktemp -d)
chmod 755 "$TMPDIR"
export TMPDIR
trap 'rm -rf "$TMPDIR"' EXIT
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$PWD/tests/support/lsan.supp:print_suppressions=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
test_start=$SECONDS
status=0
xvfb-run -a -s "-screen 0 1280x1024x24" \
  ctest --test-dir build-test --output-on-failure -j"$(nproc)" "$@" || status=$?
test_time=$((SECONDS - test_start))
printf 'Build: %dm%02ds  Tests: %dm%02ds\n' $((build_time / 60)) $((build_time % 60)) \
  $((test_time / 60)) $((test_time % 60))
exit "$status"
