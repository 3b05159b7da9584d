# Bash completion for morvane-cli: its commands, each command's options
# (read from its --help, so they follow the program), serial ports with
# their names under /dev/serial/by-id first, the module's speeds and each
# command's formats. Files where nothing else fits.

_morvane_cli_dev=/dev   # where the ports are looked for

# The ports that begin with $1: by-id names first, then the usual adapters
# by path or, for a word without a slash, by short name.
_morvane_cli_ports()
{
    local dev=$_morvane_cli_dev p
    for p in "$dev"/serial/by-id/*; do
        [[ -e $p && $p == "$1"* ]] && COMPREPLY+=("$p")
    done
    for p in "$dev"/ttyUSB* "$dev"/ttyACM* "$dev"/ttyAMA* "$dev"/ttyS*; do
        [[ -e $p ]] || continue
        if [[ $p == "$1"* ]]; then
            COMPREPLY+=("$p")
        elif [[ $1 != */* && ${p#"$dev"/} == "$1"* ]]; then
            COMPREPLY+=("${p#"$dev"/}")
        fi
    done
}

_morvane_cli_formats()
{
    case $1 in
        ports | doctor) echo "text json" ;;
        find) echo "text csv json" ;;
        read) echo "text csv json influx" ;;
    esac
}

_morvane_cli()
{
    local program=${COMP_WORDS[0]} cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]}
    local command=${COMP_WORDS[1]}
    COMPREPLY=()
    if ((COMP_CWORD == 1)); then
        local commands
        commands=$("$program" --help 2>/dev/null | sed -n 's/^  morvane-cli \([a-z-]*\) .*/\1/p')
        mapfile -t COMPREPLY < <(compgen -W "$commands help" -- "$cur")
        return
    fi
    case $prev in
        -p | --port)
            compopt -o nosort 2>/dev/null
            _morvane_cli_ports "$cur"
            return ;;
        -b | --baud)
            mapfile -t COMPREPLY < <(compgen -W "1200 2400 4800 9600 19200" -- "$cur")
            return ;;
        --format)
            mapfile -t COMPREPLY < <(compgen -W "$(_morvane_cli_formats "$command")" -- "$cur")
            return ;;
    esac
    if [[ $cur == -* ]]; then
        local options
        options=$("$program" "$command" --help 2>/dev/null | sed -n 's/^  \(-[a-z], \)\{0,1\}\(--[a-z-]*\).*/\2/p')
        mapfile -t COMPREPLY < <(compgen -W "$options" -- "$cur")
    fi
}

complete -o default -F _morvane_cli morvane-cli
