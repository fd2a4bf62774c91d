# bash completion for twinrake-find: options, the values of --keep, folders where a folder goes.
_twinrake_find() {
    local cur prev
    COMPREPLY=()
    cur=${COMP_WORDS[COMP_CWORD]}
    prev=${COMP_WORDS[COMP_CWORD-1]}
    case $prev in
        -R|--reference)
            compopt -o filenames 2>/dev/null
            COMPREPLY=($(compgen -d -- "$cur"))
            return ;;
        --keep)
            COMPREPLY=($(compgen -W 'first newest oldest shortest-path' -- "$cur"))
            return ;;
        --min-size|--max-size|--exclude)
            return ;;
    esac
    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W '-0 --null -j --json -s --summary -q --quiet -h --help
            -V --version -R --reference --keep --min-size --max-size --exclude --no-hidden
            --delete --trash --link --reflink -n --dry-run --' -- "$cur"))
        return
    fi
    compopt -o filenames 2>/dev/null
    COMPREPLY=($(compgen -d -- "$cur"))
}
complete -F _twinrake_find twinrake-find
