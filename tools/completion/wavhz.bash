# bash completion for wavhz: its options, and file names (or - for standard
# output) for OUTPUT; nothing for the numbers after it.
_wavhz() {
    local current=${COMP_WORDS[COMP_CWORD]} operands=0 options=true k word
    # The operands before the word being completed: options, and the -- that
    # ends them, do not count; negative numbers do.
    for ((k = 1; k < COMP_CWORD; k++)); do
        word=${COMP_WORDS[k]}
        if $options && [[ $word == -- ]]; then
            options=false
        elif $options && [[ $word == -?* && $word != -[0-9]* ]]; then
            :
        else
            operands=$((operands + 1))
        fi
    done
    COMPREPLY=()
    [[ $operands -eq 0 ]] || return 0
    if $options && [[ $current == -* ]]; then
        mapfile -t COMPREPLY < <(compgen -W '-q --quiet --help --version -- -' -- "$current")
    else
        compopt -o filenames 2>/dev/null
        mapfile -t COMPREPLY < <(compgen -f -- "$current")
    fi
}
complete -F _wavhz wavhz
