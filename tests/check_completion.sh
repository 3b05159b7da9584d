#!/usr/bin/env bash
# The bash completion of morvane-cli, as bash calls it: commands and options
# as the program's help lists them, ports with their by-id names first (in a
# folder standing for /dev), and formats each command takes.
# Usage: check_completion.sh SOURCE_DIR BUILD_DIR
set -uo pipefail
source_dir=$1
cli=$2/cli/morvane-cli
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

source "$source_dir/packaging/morvane-cli.bash"
[[ $(complete -p morvane-cli) == *"-F _morvane_cli morvane-cli" ]] || fail "no completion for morvane-cli"
_morvane_cli_dev=$work/dev
mkdir -p "$work/dev/serial/by-id"
touch "$work/dev/ttyS0" "$work/dev/ttyUSB0" "$work/dev/ttyUSB1"
ln -s ../../ttyUSB1 "$work/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A10K1234-if00-port0"

complete_words() {   # the words typed, the last being completed: prints what is offered
    COMP_WORDS=("$cli" "$@")
    COMP_CWORD=$#
    _morvane_cli
    echo "${COMPREPLY[*]}"
}
expect() {   # what is offered, then the words typed
    local offered
    offered=$(complete_words "${@:2}")
    [ "$offered" = "$1" ] || fail "morvane-cli ${*:2}<TAB> offers '$offered', not '$1'"
}

expect "set-address set-baud" se
expect "ports find read set-address set-baud plot doctor help" ""
expect "--baud" read --port /dev/x --b
expect "--wait" doctor --w
expect "$work/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A10K1234-if00-port0 $work/dev/ttyUSB0 $work/dev/ttyUSB1 $work/dev/ttyS0" read -p ""
expect "ttyUSB0 ttyUSB1" find --port ttyU
expect "9600" find -b 96
expect "text csv json" find --format ""
expect "" ports --format c

# Every option the help lists is offered, and every format offered is taken.
for command in ports find read set-address set-baud doctor; do
    options=$("$cli" "$command" --help | grep -oE '^  (-[a-z], )?--[a-z-]+' | grep -oE -- '--[a-z-]+' | sort)
    [ "$(complete_words "$command" - | tr ' ' '\n' | sort)" = "$options" ] || fail "$command's options are not all offered"
    line=(--port "$work/none")
    case $command in ports) line=() ;; find) line+=(--scan) ;; read) line+=(--address 1) ;; esac
    for format in $(complete_words "$command" --format ""); do
        "$cli" "$command" --format "$format" "${line[@]}" >/dev/null 2>&1
        [ $? -ne 2 ] || fail "$command does not take --format $format, which completion offers"
    done
done
echo "completion offers commands, options, ports and formats as the program takes them"
