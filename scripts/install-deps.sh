#!/usr/bin/env bash
# Installs what the build, the tests and the window need. Safe to run again; quick when
# everything is already present.
set -euo pipefail
packages=(
  cmake ninja-build g++ pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev libsqlite3-dev sqlite3
  qt6-base-dev qt6-base-dev-tools qt6-multimedia-dev libgl-dev
  fonts-wqy-microhei qt6-translations-l10n
  srecord binutils gputils gcc-avr binutils-avr avr-libc avrdude python3
  libftdi1-dev libusb-1.0-0-dev libusb-dev libelf-dev
  xvfb xauth xdotool
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: everything is present"
  exit 0
fi
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
echo "install-deps: installing ${missing[*]}"
$SUDO apt-get update -q
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q "${missing[@]}"
