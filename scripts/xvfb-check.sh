#!/usr/bin/env bash
# The window under a real X server, driven by key presses as a user would: find the chip (F9),
# load the Flash file (Ctrl+O) and the EEPROM file (F12) by typing bare names into the real file
# dialogs, auto programming (F10), then SIGTERM as a logout sends it. The simulated chip must
# hold both files afterwards, which only happens when the window closed in order.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "${1:-$root/build}" && pwd)"
gui="$build/gui/tondrel"
cli="$build/cli/tondrel-cli"
[ -x "$gui" ] || { echo "xvfb-check: $gui is not built" >&2; exit 1; }

work="$(mktemp -d)"
xvfb_pid=""
window_pid=""
cleanup() {
  [ -n "$window_pid" ] && kill "$window_pid" 2>/dev/null || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "xvfb-check: $*" >&2
  exit 1
}

cp "$root/samples/atmega16-blink.hex" "$root/samples/atmega16-blink.eep" "$work/"
bench=(--port sim:ATmega16 --sim-state "$work/chip.state" --database "$work/chip.db")
# The language stored beforehand, so the first start asks nothing.
"$cli" "${bench[@]}" --lang en --quiet hardware >/dev/null

Xvfb -displayfd 3 -screen 0 1366x768x24 -nolisten tcp 3>"$work/display" 2>/dev/null &
xvfb_pid=$!
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || fail "Xvfb did not start"
export DISPLAY=":$(cat "$work/display")"
export QT_QPA_PLATFORM=xcb
export XDG_CONFIG_HOME="$work/config"
export TONDREL_INSTANCE="xvfb-check-$$"

# Waits for a visible window whose title matches $1 and gives it the keyboard.
focus() {
  local id=""
  for _ in $(seq 150); do
    id="$(xdotool search --onlyvisible --name "$1" 2>/dev/null | tail -1 || true)"
    [ -n "$id" ] && break
    sleep 0.2
  done
  [ -n "$id" ] || fail "no window titled '$1'"
  xdotool windowfocus --sync "$id"
  sleep 0.5
}

# Starts the window, finds the chip (F9) and loads the Flash file $1 (Ctrl+O, its bare name).
start_and_load() {
  (cd "$work" && exec "$gui" "${bench[@]}") &
  window_pid=$!
  focus '^tondrel'
  xdotool key F9
  sleep 1
  xdotool key ctrl+o
  focus 'load FLASH file'
  xdotool type --delay 20 "$1"
  xdotool key Return
  focus '^tondrel'
}

# SIGTERM, as a logout sends it: the window must end with status 0 within $1 looks, 0.2 s apart.
term_and_wait() {
  kill -TERM "$window_pid"
  for _ in $(seq "$1"); do kill -0 "$window_pid" 2>/dev/null || break; sleep 0.2; done
  kill -0 "$window_pid" 2>/dev/null && fail "the window did not end on SIGTERM ($2)"
  local status=0
  wait "$window_pid" || status=$?
  window_pid=""
  [ "$status" -eq 0 ] || fail "the window ended with status $status ($2)"
}

start_and_load atmega16-blink.hex
xdotool key F12
focus 'load EEPROM file'
xdotool type --delay 20 atmega16-blink.eep
xdotool key Return
focus '^tondrel'
xdotool key F10
sleep 2
term_and_wait 600 "after auto programming"

"$cli" "${bench[@]}" --quiet verify-flash "$work/atmega16-blink.hex" ||
  fail "the chip's Flash does not hold the file"
"$cli" "${bench[@]}" --quiet verify-eeprom "$work/atmega16-blink.eep" ||
  fail "the chip's EEPROM does not hold the file"
echo "xvfb-check: the window programmed the simulated chip and closed in order"

# Esc stops a slow auto programming at the next byte: the window stays, the chip holds only a
# part of the image, answers the next run, and SIGTERM then closes the window in order.
head -c 16384 /dev/urandom >"$work/big.bin"
"$cli" "${bench[@]}" --quiet --speed 75000 write-flash "$work/atmega16-blink.hex" >/dev/null ||
  fail "the slow speed was not stored"
start_and_load big.bin
xdotool key F10
sleep 2
xdotool key Escape
sleep 1
kill -0 "$window_pid" 2>/dev/null || fail "the window ended on Escape"
# The board, saved through Function > Save log (Alt+F, L), says it stopped.
xdotool key alt+f
sleep 0.5
xdotool key l
focus 'Save'
xdotool type --delay 20 board.txt
xdotool key Return
for _ in $(seq 50); do [ -s "$work/board.txt" ] && break; sleep 0.2; done
grep -q '>>stopped' "$work/board.txt" || fail "the board does not say the operation stopped"
term_and_wait 100 "after the stop"
"$cli" "${bench[@]}" --quiet verify-flash "$work/big.bin" >/dev/null 2>&1 &&
  fail "Escape did not stop the write"
"$cli" "${bench[@]}" --quiet signature >/dev/null || fail "the chip does not answer after the stop"
echo "xvfb-check: Escape stopped the auto programming and the chip answered again"
