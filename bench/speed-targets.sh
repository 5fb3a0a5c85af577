#!/usr/bin/env bash
# The speed targets in one run: this program's auto beside avrdude (ppdev bench), the 1 MHz
# chip against its own floor, and the PIC jobs. Every target prints one "target ..." line; the
# summary repeats them and says how many failed.
#   bench/speed-targets.sh [BUILD]   (TONDREL_AVRDUDE: avrdude with parallel-port support;
#                                     TONDREL_REFERENCE_CLI: a build of the previous release)
set -uo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "${1:-$root/build}" && pwd)"
out="$(mktemp)"
trap 'rm -f "$out"' EXIT
for b in PreloadBench SlowChipBench PicBench; do
  exe="$build/bench/bench_$b"
  [ -x "$exe" ] || { echo "speed-targets: $exe is not built" >&2; exit 1; }
  echo "== $b"
  "$exe" 2>&1 | tee -a "$out"
done
echo "== targets"
grep -E '^target ' "$out"
failed=$(grep -cE '^target .*FAIL' "$out")
echo "$(grep -cE '^target ' "$out") targets, $failed failed"
[ "$failed" -eq 0 ]
