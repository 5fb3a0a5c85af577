#!/usr/bin/env bash
# The main job on the simulated bench: install what is missing, build, then run the typical
# flow with the bundled ATmega16 firmware (made by avr-gcc) — find the chip by its signature,
# auto program it (erase, write Flash, write EEPROM), and verify both memories against the
# files in a second run that sees the same simulated chip.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${TONDREL_BUILD_DIR:-$root/build}"
"$root/scripts/install-deps.sh"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build" -j2 --target tondrel-cli

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cli=("$build/cli/tondrel-cli" --database "$work/chip.db" --port sim:ATmega16
     --sim-state "$work/atmega16.state" --lang en)
flash="$root/samples/atmega16-blink.hex"
eeprom="$root/samples/atmega16-blink.eep"

step() { printf '\n===== %s\n' "$*"; }
step "tondrel-cli search"
"${cli[@]}" search
step "tondrel-cli auto --flash $(basename "$flash") --eeprom $(basename "$eeprom")"
"${cli[@]}" auto --flash "$flash" --eeprom "$eeprom" --no-update-flash --no-update-eeprom \
  --erase --write-flash --write-eeprom
step "tondrel-cli verify-flash $(basename "$flash")"
"${cli[@]}" verify-flash "$flash"
step "tondrel-cli verify-eeprom $(basename "$eeprom")"
"${cli[@]}" verify-eeprom "$eeprom"
step "done: the simulated ATmega16 holds the sample firmware"
