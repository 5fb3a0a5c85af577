#!/usr/bin/env bash
# The command-line tool on the simulated FTDI chips, through the real libftdi1: every job on
# both chip types and three chips, avrdude's ft232r on the same bus (when it can reach it), and
# the failures a user meets.
set -uo pipefail
cli=$1
lib=$2
work=$(mktemp -d)
# In a sanitizer build the library comes before the sanitizer runtime; that is harmless. avrdude
# is not ours: its own leaks are not this test's business.
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0"
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}
# run NAME ENV... -- ARGS...: the tool on the bus, its output in $work/NAME.out, its status in $rc.
run() {
  local name=$1
  shift
  local env=()
  while [ "$1" != "--" ]; do env+=("$1"); shift; done
  shift
  env LD_PRELOAD="$lib" "${env[@]}" "$cli" --database "$work/chip.db" "$@" >"$work/$name.out" 2>&1
  rc=$?
}
expect() {  # expect NAME RC TEXT: the run ended with RC and said TEXT
  [ "$rc" -eq "$2" ] || fail "$1: exit $rc, not $2: $(tail -3 "$work/$1.out")"
  grep -qF -- "$3" "$work/$1.out" || fail "$1: no '$3' in: $(tail -3 "$work/$1.out")"
}

for device in 0403:6001 0403:6014; do
  for chip in ATmega16 ATmega328P AT89S52; do
    case $chip in ATmega16) size=16384 ;; ATmega328P) size=32768 ;; AT89S52) size=8192 ;; esac
    name="$chip-${device#*:}"
    state="$work/$name.state"
    head -c "$size" /dev/urandom >"$work/$name.bin"
    srec_cat "$work/$name.bin" -binary -o "$work/$name.hex" -intel
    bench=(TONDREL_SIM_BENCH="sim:$chip" TONDREL_SIM_STATE="$state")
    run "$name-search" "${bench[@]}" -- --port "ftdi:$device" search
    expect "$name-search" 0 "$chip"
    run "$name-auto" "${bench[@]}" -- --port "ftdi:$device" --yes auto --flash "$work/$name.hex"
    expect "$name-auto" 0 "auto program completed"
    run "$name-verify" "${bench[@]}" -- --port "ftdi:$device" --chip "$chip" verify-flash "$work/$name.hex"
    expect "$name-verify" 0 "verified successfully"
    run "$name-read" "${bench[@]}" -- --port "ftdi:$device" --chip "$chip" read-flash "$work/$name.read.hex"
    expect "$name-read" 0 "saved file"
    srec_cmp "$work/$name.read.hex" -intel "$work/$name.hex" -intel >/dev/null 2>&1 ||
      fail "$name: the Flash read back is not the image written"
    run "$name-config" "${bench[@]}" -- --port "ftdi:$device" --chip "$chip" config show
    [ "$rc" -eq 0 ] || fail "$name-config: exit $rc: $(tail -3 "$work/$name-config.out")"
  done
done

# The wrong chip in the socket: the chosen ATmega16 is not what answers, so nothing is written,
# and the ATmega328P keeps the image it had.
wrong=(TONDREL_SIM_BENCH=sim:ATmega328P TONDREL_SIM_STATE="$work/ATmega328P-6014.state")
run wrong-chip "${wrong[@]}" -- --port ftdi:0403:6014 --lang en --chip ATmega16 --yes \
  write-flash "$work/ATmega16-6014.hex"
expect wrong-chip 1 "not the chosen ATmega16"
run wrong-kept "${wrong[@]}" -- --port ftdi:0403:6014 --chip ATmega328P verify-flash "$work/ATmega328P-6014.hex"
expect wrong-kept 0 "verified successfully"

# A fuse written through one board reads back through the other.
fuses=(TONDREL_SIM_BENCH=sim:ATmega16 TONDREL_SIM_STATE="$work/fuse.state")
run fuse-write "${fuses[@]}" -- --port ftdi:0403:6014 --chip ATmega16 --yes config write GroupBox1 fh3=on
[ "$rc" -eq 0 ] || fail "fuse-write: exit $rc: $(tail -3 "$work/fuse-write.out")"
run fuse-read "${fuses[@]}" -- --port ftdi:0403:6001 --chip ATmega16 config show
grep -qE 'fh3 +"EESAVE" +on' "$work/fuse-read.out" || fail "fuse-read: EESAVE is not programmed"

# avrdude's ft232r (libftdi 0.x over libusb-0.1, which the library also stands in for) and this
# program each verify what the other wrote, on the same chip.
if command -v avrdude >/dev/null; then
  state="$work/cross.state"
  bench=(TONDREL_SIM_BENCH=sim:ATmega328P TONDREL_SIM_STATE="$state")
  avr() {
    env LD_PRELOAD="$lib" ASAN_OPTIONS="$ASAN_OPTIONS:detect_leaks=0" "${bench[@]}" avrdude -q -q -c ft232r -p m328p -B 125kHz "$@" \
      >"$work/avrdude.out" 2>&1 || fail "avrdude $*: $(tail -3 "$work/avrdude.out")"
  }
  avr -e -U "flash:w:$work/ATmega328P-6001.hex:i"
  run cross-ours "${bench[@]}" -- --port ftdi --chip ATmega328P verify-flash "$work/ATmega328P-6001.hex"
  expect cross-ours 0 "verified successfully"
  run cross-write "${bench[@]}" -- --port ftdi --chip ATmega328P --yes auto --flash "$work/ATmega16-6001.hex"
  expect cross-write 0 "auto program completed"
  avr -U "flash:v:$work/ATmega16-6001.hex:i"
fi

# A board wired otherwise works with its pin map, and finds nothing without it.
pins=RESET=7,SCK=5,MOSI=6,MISO=3,BUFF=~4
run pins-right TONDREL_SIM_BENCH=sim:ATmega16 TONDREL_SIM_FTDI_PINS="$pins" -- \
  --port ftdi --ftdi-pins "$pins" search
expect pins-right 0 ATmega16
run pins-wrong TONDREL_SIM_BENCH=sim:ATmega16 TONDREL_SIM_FTDI_PINS="$pins" -- --port ftdi search
[ "$rc" -ne 0 ] || fail "pins-wrong: a chip was found on pins it is not wired to"
run pins-bad -- --port ftdi --ftdi-pins SCK=0,MOSI=0 search
expect pins-bad 1 "SCK=0,MOSI=0"

# The failures, said with their fixes; never the bench in the device's place.
run none TONDREL_SIM_USB=none -- --port ftdi search
expect none 1 "0403:6001, 0403:6010"
run none-named TONDREL_SIM_USB=ft232r -- --port ftdi:0403:6014 search
expect none-named 1 "0403:6014"
run serial TONDREL_SIM_BENCH=sim:ATmega16 -- --port ftdi:0403:6001:NOSUCH search
expect serial 1 "NOSUCH"
run denied TONDREL_SIM_USB_FAULT=denied -- --port ftdi search
expect denied 1 "plugdev"
run busy TONDREL_SIM_USB_FAULT=busy -- --port ftdi search
expect busy 1 "ftdi_sio"
run gone TONDREL_SIM_BENCH=sim:ATmega16 TONDREL_SIM_VANISH_AFTER=200 -- \
  --port ftdi --chip ATmega16 read-flash "$work/gone.hex"
expect gone 1 "ftdi:0403:6001:TD232R01 was unplugged"
run pic TONDREL_SIM_BENCH=sim:PIC16F84A -- --port ftdi --chip PIC16F84A signature
expect pic 1 "PIC chips cannot be programmed through an FTDI adapter"
# Without the simulated bus: this machine's own USB (no FTDI chip in a build container).
if ! lsusb 2>/dev/null | grep -q " 0403:"; then
  "$cli" --database "$work/chip.db" --port ftdi search >"$work/real.out" 2>&1
  rc=$?
  expect real 1 "No FTDI device found"
fi

[ "$failures" -eq 0 ] && echo "all FTDI cases passed"
exit $((failures > 0))
