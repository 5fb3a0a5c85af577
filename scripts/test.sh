#!/usr/bin/env bash
# Builds everything and runs every test (library tests, end-to-end CLI tests, GUI tests on the
# offscreen platform).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${TONDREL_BUILD_DIR:-$root/build}"
"$root/scripts/install-deps.sh"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTONDREL_WERROR=ON
cmake --build "$build" -j2
export QT_QPA_PLATFORM=offscreen
ctest --test-dir "$build" -j2 --output-on-failure --timeout 600
