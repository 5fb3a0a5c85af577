#!/usr/bin/env bash
# Every option and command that --help names must be explained in the man page.
#   man-options.sh CLI CLI_MAN [GUI GUI_MAN]
set -uo pipefail
fail=0

# The man page as a reader sees it: no font changes, "\-" as "-".
plain() { sed -e 's/\\f[BIRP]//g' -e 's/\\-/-/g' "$1"; }

check() {
    local program=$1 page=$2 help text word
    help=$("$program" --help) || { echo "FAIL: $program --help exited with $?"; fail=1; return; }
    text=$(plain "$page")
    # Options, with --[no-]name standing for --name and --no-name.
    local options
    options=$(grep -o -- '--\(\[no-\]\)\?[a-z][a-z0-9-]*' <<<"$help" | sort -u)
    [[ -n $options ]] || { echo "FAIL: no options found in $program --help"; fail=1; }
    for word in $options; do
        local forms=("$word")
        if [[ $word == --\[no-\]* ]]; then
            forms=("--${word#--\[no-\]}" "--no-${word#--\[no-\]}")
        fi
        for form in "${forms[@]}"; do
            grep -qE -- "${form}([^a-z0-9-]|$)" <<<"$text" || { echo "FAIL: $page does not explain $form"; fail=1; }
        done
    done
    # Commands: the first word of each indented line of the command list.
    awk '/^Commands:/ {on=1; next} /^[^ ]/ {on=0} on && /^  [a-z]/ {print $1}' <<<"$help" |
        sort -u | while read -r word; do
            grep -q -- "$word" <<<"$text" || { echo "FAIL: $page does not explain $word"; exit 1; }
        done || fail=1
    # Every exit status the help names.
    for status in $(grep -o '[0-9] [a-z]' <<<"$(grep -i 'exit status' <<<"$help")" | cut -c1); do
        grep -q "^\.B $status$" "$page" || { echo "FAIL: $page lacks exit status $status"; fail=1; }
    done
}

check "$1" "$2"
if [[ -n ${3:-} ]]; then check "$3" "$4"; fi
[[ $fail == 0 ]] && echo "every option, command and exit status of --help is in the man pages"
exit $fail
