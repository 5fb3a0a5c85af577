#!/usr/bin/env bash
# Installs the build into a staging folder as the package would (prefix /usr) and checks that
# the installation stands on its own: the files are there, the programs run from there without
# the build tree, and no installed binary names the build or source folder.
#   install-check.sh BUILD_DIR SOURCE_DIR VERSION GUI(0|1)
set -uo pipefail
build=$1 source=$2 version=$3 gui=$4
stage=$(mktemp -d "${TMPDIR:-/tmp}/tondrel-stage-XXXXXX")
trap 'rm -rf "$stage"' EXIT
fail=0
bad() { echo "FAIL: $*"; fail=1; }

DESTDIR="$stage" cmake --install "$build" --prefix /usr >"$stage.log" 2>&1 ||
    { cat "$stage.log"; rm -f "$stage.log"; bad "cmake --install failed"; exit 1; }
rm -f "$stage.log"
root=$stage/usr

expect=(bin/tondrel-cli share/man/man1/tondrel-cli.1.gz
    share/bash-completion/completions/tondrel-cli share/tondrel/manual.html
    share/tondrel/wiring.svg lib/udev/rules.d/60-tondrel-parport.rules
    lib/udev/rules.d/60-tondrel-ftdi.rules
    lib/modules-load.d/tondrel.conf)
if [[ $gui == 1 ]]; then
    expect+=(bin/tondrel share/man/man1/tondrel.1.gz share/applications/tondrel.desktop
        share/icons/hicolor/scalable/apps/tondrel.svg share/icons/hicolor/64x64/apps/tondrel.png)
fi
for f in "${expect[@]}"; do [[ -s $root/$f ]] || bad "$f is not installed"; done
preload=$(find "$root/lib" -name libtondrel_preload.so)
[[ $preload == "$root"/lib/*/tondrel/libtondrel_preload.so || $preload == "$root"/lib/tondrel/libtondrel_preload.so ]] ||
    bad "libtondrel_preload.so is not in the library folder's tondrel/ (found: '$preload')"
usbsim=$(find "$root/lib" -name libtondrel_usbsim.so)
[[ $usbsim == "${preload%/*}/libtondrel_usbsim.so" ]] ||
    bad "libtondrel_usbsim.so is not beside libtondrel_preload.so (found: '$usbsim')"
grep -q 'GROUP="plugdev"' "$root/lib/udev/rules.d/60-tondrel-ftdi.rules" ||
    bad "the FTDI udev rule does not give the boards to group plugdev"
# The catalogue SQL and the sounds are compiled in: an installed copy would be dead weight.
[[ -e $root/share/tondrel/sql || -e $root/share/tondrel/wav ]] && bad "sql/ or wav/ installed"

# The programs run from the staging folder, away from the build tree.
work=$(mktemp -d "${TMPDIR:-/tmp}/tondrel-run-XXXXXX")
trap 'rm -rf "$stage" "$work"' EXIT
cd "$work" || exit 1
out=$(HOME=$work XDG_DATA_HOME=$work/data "$root/bin/tondrel-cli" --version)
[[ $out == "tondrel-cli $version" ]] || bad "tondrel-cli --version says '$out'"
out=$(HOME=$work XDG_DATA_HOME=$work/data XDG_STATE_HOME=$work/state \
    "$root/bin/tondrel-cli" --lang en --port sim:ATmega16 search 2>&1)
grep -q "ATmega16" <<<"$out" || bad "the installed tondrel-cli does not find the simulated chip: $out"
out=$(HOME=$work XDG_DATA_HOME=$work/data TONDREL_SIM_BENCH=sim:ATmega16 LD_PRELOAD=$usbsim \
    "$root/bin/tondrel-cli" --lang en --port ftdi search 2>&1)
grep -q "ATmega16" <<<"$out" || bad "the installed tondrel-cli does not find the chip on the simulated FT232R: $out"
if [[ $gui == 1 ]]; then
    out=$(HOME=$work "$root/bin/tondrel" --version 2>/dev/null)
    [[ $out == "tondrel $version" ]] || bad "tondrel --version says '$out'"
fi

# Man pages readable, naming this release; the completion loads and completes.
for page in "$root"/share/man/man1/*.1.gz; do
    zcat "$page" | grep -q "tondrel $version" || bad "$page does not name release $version"
    if command -v man >/dev/null; then
        MANWIDTH=80 man -l "$page" 2>/dev/null | grep -q "EXIT STATUS" || bad "man cannot read $page"
    fi
done
completion=$(PATH="$root/bin:$PATH" HOME=$work XDG_DATA_HOME=$work/data bash -c '
    source "$1"
    complete_words() {
        COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); COMP_LINE="$*"; COMP_POINT=${#COMP_LINE}
        COMPREPLY=()
        _tondrel_cli; printf "%s " "${COMPREPLY[@]}"; echo
    }
    complete_words tondrel-cli --po
    complete_words tondrel-cli --chip ATmega1
    complete_words tondrel-cli ver
    complete_words tondrel-cli auto --no-e
    complete_words tondrel-cli --port sim:ATmega1
' _ "$root/share/bash-completion/completions/tondrel-cli" 2>&1)
grep -q -- "--port" <<<"$(sed -n 1p <<<"$completion")" || bad "completion of --po: $completion"
grep -q "ATmega16" <<<"$(sed -n 2p <<<"$completion")" || bad "completion of chip names: $completion"
grep -q "verify-flash" <<<"$(sed -n 3p <<<"$completion")" || bad "completion of commands: $completion"
grep -q -- "--no-erase" <<<"$(sed -n 4p <<<"$completion")" || bad "completion of auto's steps: $completion"
grep -q "ATmega16 " <<<"$(sed -n 5p <<<"$completion")" || bad "completion of sim: ports: $completion"

# The manual: chip list and pin map filled in.
manual=$root/share/tondrel/manual.html
grep -q 'id="chip-ATmega16"' "$manual" || bad "the installed manual has no chip list"
grep -q '<table class="pins">' "$manual" || bad "the installed manual has no pin map"

# No installed file may carry the build or source folder.
for dir in "$build" "$source"; do
    hits=$(grep -rlaF -- "$dir" "$root" || true)
    [[ -z $hits ]] || bad "these installed files name $dir: $hits"
done

[[ $fail == 0 ]] && echo "installation in $stage is complete and stands on its own"
exit $fail
