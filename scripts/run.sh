#!/usr/bin/env bash
# Installs the dependencies, builds Pixmoor optimised in build/ and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh build
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DPIXMOOR_TESTS=OFF
cmake --build build -j"$(nproc)" --target pixmoor
exec build/bin/pixmoor "$@"
