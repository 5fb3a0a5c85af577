#!/usr/bin/env bash
# Rebuilds the bundled sample images from their sources. Needs sdcc, avr-gcc/avr-libc and
# gputils; the images are committed, so building tondrel does not need these tools.
set -euo pipefail
cd "$(dirname "$0")"
tmp=$(mktemp -d); trap 'rm -rf "$tmp"' EXIT
sdcc -mmcs51 --code-size 8192 -o "$tmp/" at89s52-blink.c >/dev/null
packihx "$tmp/at89s52-blink.ihx" > at89s52-blink.hex 2>/dev/null
avr-gcc -mmcu=atmega16 -Os -DF_CPU=1000000UL -o "$tmp/atmega16-blink.elf" atmega16-blink.c
avr-objcopy -O ihex -R .eeprom "$tmp/atmega16-blink.elf" atmega16-blink.hex
avr-objcopy -O ihex -j .eeprom --change-section-lma .eeprom=0 "$tmp/atmega16-blink.elf" atmega16-blink.eep
gpasm -q -o "$tmp/pic16f877a-count.hex" pic16f877a-count.asm
cp "$tmp/pic16f877a-count.hex" pic16f877a-count.hex
echo "samples rebuilt"
