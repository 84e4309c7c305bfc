#!/usr/bin/env bash
# wavhz's bash completion (tools/completion/wavhz.bash), a command line at a
# time, in a folder that holds a.wav, a.txt and -x.wav: what it offers for
# the last word.
set -uo pipefail
source "$(dirname "$0")/../tools/completion/wavhz.bash"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" && touch a.wav a.txt ./-x.wav

failures=0
check() {  # LINE EXPECTED: the words typed (the last one being completed)
    read -ra COMP_WORDS <<<"$1"
    [[ $1 == *' ' ]] && COMP_WORDS+=('')
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    _wavhz
    local got
    got=$(printf '%s\n' "${COMPREPLY[@]}" | sort | paste -sd ' ')
    if [ "$got" != "$2" ]; then
        echo "FAILED '$1': offered '$got', expected '$2'"
        failures=$((failures + 1))
    fi
}
check 'wavhz --h' '--help'
check 'wavhz -' '- -- --help --quiet --version -q'
check 'wavhz -q a' 'a.txt a.wav'
check 'wavhz a.w' 'a.wav'
check 'wavhz --version a' 'a.txt a.wav'
check 'wavhz -- -' '-x.wav'
check 'wavhz a.wav ' ''
check 'wavhz -- -x.wav 440 ' ''
check 'wavhz - -5' ''
[ "$failures" -eq 0 ] || exit 1
echo "completion: all offers as expected"
