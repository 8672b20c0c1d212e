# bash completion for tapwright-cli. The commands and options of each level are read from
# the program's own --help, so the completion always matches the installed program.

# Lines "s NAME" (subcommand), "v --NAME TYPE" (option taking a value), "o --NAME" (flag)
# for `tapwright-cli [SUBCOMMAND...] --help`.
_tapwright_cli_help()
{
    "$@" --help 2>/dev/null | awk '
        /^Subcommands:/ { subs = 1; next }
        /^[^ ]/ { subs = 0 }
        subs && /^  [a-z]/ { print "s " $1; next }
        /^  -/ {
            split($0, column, /  +/)  # column[2]: names, then the value type if any
            n = split(column[2], word, / /)
            k = split(word[1], name, /,/)
            for (i = 1; i <= k; i++)
                if (name[i] ~ /^--/) print (n > 1 ? "v " name[i] " " word[2] : "o " name[i])
        }'
}

# The line of kind $1 named $2 in the text on standard input; fails when there is none.
_tapwright_cli_find()
{
    awk -v k="$1" -v n="$2" '$1 == k && $2 == n { print; f = 1 } END { exit !f }'
}

_tapwright_cli()
{
    local cur prev words cword split
    _init_completion -s || return

    # Walk down the subcommands typed so far, stepping over option values; the options that
    # take a value are gathered from every level passed.
    local path=("${words[0]}") help values type w i
    help=$(_tapwright_cli_help "${path[@]}")
    values=$(grep '^v ' <<<"$help")
    for ((i = 1; i < cword; i++)); do
        w=${words[i]}
        if _tapwright_cli_find v "$w" <<<"$values" >/dev/null; then
            ((i++))
        elif _tapwright_cli_find s "$w" <<<"$help" >/dev/null; then
            path+=("$w")
            help=$(_tapwright_cli_help "${path[@]}")
            values+=$'\n'$(grep '^v ' <<<"$help")
        fi
    done

    if type=$(_tapwright_cli_find v "$prev" <<<"$values"); then
        case $prev in
            --driver)
                COMPREPLY=($(compgen -W 'sim sim: ppdev direct remote-bitbang: ftdi ftdi: gpiod: ftdi-sim gpiod-sim' -- "$cur"))
                [[ ${#COMPREPLY[@]} -eq 1 && $COMPREPLY == *: ]] && compopt -o nospace
                ;;
            --log) _filedir ;;
            *)  # a choice such as INT:{8,16,32}
                [[ $type == *{*} ]] && type=${type#*\{} && type=${type%\}*} &&
                    COMPREPLY=($(compgen -W "${type//,/ }" -- "$cur"))
                ;;
        esac
        return
    fi
    $split && return

    local subs
    subs=$(awk '$1 == "s" { print $2 }' <<<"$help")
    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "$(awk '$1 != "s" { print $2 }' <<<"$help")" -- "$cur"))
    elif [[ -n $subs ]]; then
        COMPREPLY=($(compgen -W "$subs" -- "$cur"))
    else
        _filedir  # FILE of read, write, verify and load
    fi
}
complete -F _tapwright_cli tapwright-cli
