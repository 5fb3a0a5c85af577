#!/usr/bin/env bash
# Builds everything and runs every test (library tests, end-to-end CLI tests, GUI tests on the
# offscreen platform), then the library and command-line tests again under ASan and UBSan.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${TONDREL_BUILD_DIR:-$root/build}"
"$root/scripts/install-deps.sh"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTONDREL_WERROR=ON
cmake --build "$build" -j2
export QT_QPA_PLATFORM=offscreen
ctest --test-dir "$build" -j2 --output-on-failure --timeout 600
# The window once under a real X server, with real key presses and real dialogs.
"$root/scripts/xvfb-check.sh" "$build"

# Sanitizers: memory and undefined-behaviour faults in the libraries, the bench and the tool.
asan="${build}-asan"
cmake -S "$root" -B "$asan" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTONDREL_WERROR=ON \
  -DTONDREL_SANITIZE=ON -DTONDREL_GUI=OFF -DTONDREL_BENCH=OFF
cmake --build "$asan" -j2
UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
  ctest --test-dir "$asan" -j2 --output-on-failure --timeout 900
