#!/usr/bin/env bash
# The Windows zip under Wine, headless, in a Wine prefix of its own:
# morvane-cli.exe against a Linux morvane-sim, through Wine COM ports mapped
# to the simulator's pseudo-terminal and through TCP; morvane-sim.exe read
# by the Linux morvane-cli; morvane.exe started on a virtual screen, its
# window saved as a picture. Skips (77) without the zip or Wine.
# Usage: check_windows.sh SOURCE_DIR BUILD_DIR [PICTURE]
# (PICTURE: where the window goes, default BUILD_DIR/windows-main-window.png)
set -uo pipefail
src=$(realpath "$1") build=$(realpath "$2") picture=$(realpath -m "${3:-$2/windows-main-window.png}")
cli=$build/cli/morvane-cli sim=$build/sim/morvane-sim
Limit=60          # seconds any one Windows program may take
skip() { echo "SKIP: $*"; exit 77; }

zip=$(ls "$src"/build-win/morvane-*-windows-x86_64.zip 2>/dev/null | head -1)
[ -n "$zip" ] || skip "no build-win/morvane-*-windows-x86_64.zip: scripts/build-windows.sh builds it" \
                      "(Qt's first build takes about 26 min on two cores, later runs about 20 s)"
for tool in wine wineserver Xvfb xwininfo import unzip; do
    command -v $tool >/dev/null || skip "no $tool: scripts/build-windows.sh installs what this check needs"
done

# Wine gives every serial device it finds a COM name. In a mount namespace
# of its own (root) this check hides them behind /dev/null, so that nothing
# it starts can open a real one.
if [ -z "${MORVANE_WINE_PRIVATE:-}" ] && [ "$(id -u)" = 0 ] && unshare -m true 2>/dev/null; then
    MORVANE_WINE_PRIVATE=1 exec unshare -m --propagation private bash "$0" "$@"
fi
if [ -n "${MORVANE_WINE_PRIVATE:-}" ]; then
    for device in /dev/ttyS* /dev/ttyUSB* /dev/ttyACM*; do
        [ -e "$device" ] && mount --bind /dev/null "$device"
    done
else
    echo "note: not root, Wine may map this machine's serial devices; only COM5 and COM12 are opened"
fi

work=$(mktemp -d)
cd "$work" || exit 1
export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
pids=()
cleanup() {
    kill "${pids[@]}" 2>/dev/null
    timeout 20 wineserver -k 2>/dev/null
    wait 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 143' INT TERM

failed=0
check() {   # check NAME COMMAND...: the command's status decides
    local name=$1
    shift
    if "$@"; then echo "pass: $name"; else echo "FAIL: $name"; failed=1; fi
}
# has NAME PATTERN [STATUS]: the output NAME matches, and $rc is STATUS (0).
has() {
    [ "$rc" = "${3:-0}" ] && grep -Eq -- "$2" "$work/$1" && return
    echo "  status $rc, output $1:"
    sed 's/^/    /' "$work/$1"
    false
}
# win NAME PROGRAM ARGS...: a Windows program, its output (line ends made
# Unix ones) in NAME, its status in $rc.
win() {
    local name=$1 exe=$2
    shift 2
    timeout $Limit wine "$dir/$exe" "$@" > "$work/$name" 2>&1
    rc=$?
    sed -i 's/\r$//' "$work/$name"
}
# started COMMAND...: runs it in the background; its first line (a
# terminal's path or tcp://HOST:PORT) in $first.
started() {
    exec {out}< <(exec "$@" 2>/dev/null)
    pids+=($!)
    read -r -t 30 -u $out first && first=${first%$'\r'}
}

unzip -q "$zip" -d "$work" && dir=$(ls -d "$work"/morvane-*-windows-x86_64) || { echo "FAIL: unzip"; exit 1; }
timeout 120 wine wineboot -i > /dev/null 2>&1

win version morvane-cli.exe --version
check "morvane-cli.exe --version" has version "^morvane-cli [0-9]+\.[0-9]+\.[0-9]+$"
win help morvane-cli.exe --help
check "morvane-cli.exe --help" has help "^Usage: morvane-cli COMMAND"

# A Linux simulator's pseudo-terminal as COM5 and COM12: Wine reads the
# mapping when its server starts.
started "$sim" --exit-with-parent --address 7 --temperature 21.5 --humidity 40
tty=$first
for port in COM5 COM12; do
    timeout $Limit wine reg add 'HKLM\Software\Wine\Ports' /v $port /d "$tty" /f > /dev/null 2>&1
done
timeout 20 wineserver -k
win ports morvane-cli.exe ports
check "ports lists COM5" has ports "^COM5( |$)"
win read morvane-cli.exe read --port COM5 --address 7
check "read --port COM5 (on $tty)" has read "^temperature 21\.5 °C, humidity 40\.0 %RH"
win find morvane-cli.exe find --port COM5
check "find --port COM5" has find "^address 7 at 9600 bit/s$"
win setaddress morvane-cli.exe set-address 12 --port COM5 --address 7
check "set-address 12 --address 7" has setaddress "^address 7 → 12$"
win readback morvane-cli.exe read --port '\\.\COM12' --address 12
check "read back at 12 through \\\\.\\COM12" has readback "^temperature 21\.5 °C"

# --watch until a SIGINT, which Wine hands the program as a Ctrl-C.
timeout $Limit wine "$dir/morvane-cli.exe" read --port COM5 --address 12 --watch 0.2 > "$work/watch" 2>&1 &
watcher=$!
pids+=($watcher)
for _ in $(seq 100); do [ "$(grep -c 21.5 "$work/watch")" -ge 2 ] && break; sleep 0.2; done
kill -INT $watcher
wait $watcher
rc=$?
check "read --watch ended by SIGINT (Ctrl-C): status $rc" test $rc = 130

started "$sim" --exit-with-parent --listen 127.0.0.1:0 --address 3 --temperature -4.5 --humidity 88
win tcp morvane-cli.exe read --port "$first" --address 3
check "read --port $first (Linux morvane-sim --listen)" has tcp "^temperature -4\.5 °C, humidity 88\.0 %RH"
timeout 20 "$cli" read --port "$first" --address 3 --watch 0.2 --count 5 --format csv > log.csv
win plot morvane-cli.exe plot log.csv -o plot.png
head -c 4 plot.png >> plot
check "plot of a CSV log the Linux morvane-cli wrote" has plot "PNG"

started timeout $Limit wine "$dir/morvane-sim.exe" --listen 127.0.0.1:0 --address 9 --temperature 30.2
timeout 20 "$cli" read --port "$first" --address 9 > "$work/simexe" 2>&1
rc=$?
check "morvane-sim.exe --listen read by the Linux morvane-cli ($first)" has simexe "^temperature 30\.2 °C"

# The window, in English (started away from its Qm folder), on a virtual
# screen.
timeout 20 wineserver -k
exec {screen}< <(exec Xvfb -displayfd 1 -screen 0 1280x1024x24 -nolisten tcp 2>/dev/null)
pids+=($!)
read -r -t 30 -u $screen display
export DISPLAY=:$display
timeout $Limit wine "$dir/morvane.exe" &
pids+=($!)
for _ in $(seq 150); do xwininfo -name Morvane > /dev/null 2>&1 && break; sleep 0.2; done
sleep 2
check "morvane.exe starts, its window saved" import -window Morvane "$work/window.png"
[ -s "$work/window.png" ] && cp "$work/window.png" "$picture" && echo "window: $picture"

exit $failed
