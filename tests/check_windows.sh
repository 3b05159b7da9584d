#!/usr/bin/env bash
# The Windows zip under Wine, headless, in a Wine prefix of its own:
# morvane-cli.exe against a Linux morvane-sim, through a Wine COM port mapped
# to the simulator's pseudo-terminal and through TCP; morvane-sim.exe read
# by the Linux morvane-cli; morvane.exe started under Xvfb, its window saved
# as a picture. Skips (77) without the zip or Wine.
# Usage: check_windows.sh SOURCE_DIR BUILD_DIR [PICTURE]
# (PICTURE: where the window goes, default BUILD_DIR/windows-main-window.png)
set -uo pipefail
if [ "$1" = --window ]; then
    cd "$2" || exit 1
    wine "$3/morvane.exe" &
    for _ in $(seq 150); do xwininfo -name Morvane > /dev/null 2>&1 && break; sleep 0.2; done
    sleep 2
    kill -0 $! && import -window Morvane "$2/window.png"
    status=$?
    kill $!
    exit $status
fi
src=$1 build=$2 picture=${3:-$2/windows-main-window.png}
cli=$build/cli/morvane-cli sim=$build/sim/morvane-sim
Limit=60          # seconds any one Windows program may take
Port=COM5
skip() { echo "SKIP: $*"; exit 77; }

zip=$(ls "$src"/build-win/morvane-*-windows-x86_64.zip 2>/dev/null | head -1)
[ -n "$zip" ] || skip "no build-win/morvane-*-windows-x86_64.zip: scripts/build-windows.sh builds it" \
                      "(Qt's first build takes about 26 min on two cores, later runs about 20 s)"
for tool in wine wineserver xvfb-run xwininfo import unzip; do
    command -v $tool >/dev/null || skip "no $tool: scripts/build-windows.sh installs what this check needs"
done

work=$(mktemp -d)
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
has() { grep -Eq -- "$2" "$work/$1" || { echo "  $1 lacks /$2/:"; sed 's/^/    /' "$work/$1"; false; }; }
# win NAME PROGRAM ARGS...: a Windows program, its output (line ends made
# Unix ones) in NAME, its status in $rc.
win() {
    local name=$1 exe=$2
    shift 2
    timeout $Limit wine "$dir/$exe" "$@" > "$work/$name" 2>&1
    rc=$?
    sed -i 's/\r$//' "$work/$name"
}
# started NAME COMMAND...: runs it in the background; its first line
# (a terminal's path or tcp://HOST:PORT) in $first.
started() {
    local name=$1
    shift
    exec {out}< <(exec "$@" 2> "$work/$name.err")
    pids+=($!)
    read -r -t 30 -u $out first && first=${first%$'\r'}
}

unzip -q "$zip" -d "$work" && dir=$(ls -d "$work"/morvane-*-windows-x86_64) || { echo "FAIL: unzip"; exit 1; }
timeout 120 wine wineboot -i > /dev/null 2>&1

win version morvane-cli.exe --version
check "morvane-cli.exe --version" has version "^morvane-cli [0-9]+\.[0-9]+\.[0-9]+$"
win help morvane-cli.exe --help
check "morvane-cli.exe --help" has help "^Usage: morvane-cli COMMAND"

# A Linux simulator's pseudo-terminal as COM5: Wine reads the mapping when
# its server starts.
started sim "$sim" --exit-with-parent --address 7 --temperature 21.5 --humidity 40
tty=$first
timeout $Limit wine reg add 'HKLM\Software\Wine\Ports' /v $Port /d "$tty" /f > /dev/null 2>&1
timeout 20 wineserver -k
win read morvane-cli.exe read --port $Port --address 7
check "read --port $Port (on $tty)" has read "21\.5.*40\.0"
win find morvane-cli.exe find --port $Port
check "find --port $Port" has find "address 7"
win setaddress morvane-cli.exe set-address 12 --port $Port --address 7
win readback morvane-cli.exe read --port $Port --address 12
check "set-address 12, read back at 12" has readback "21\.5.*40\.0"

# --watch until a SIGINT, which Wine hands the program as a Ctrl-C.
timeout $Limit wine "$dir/morvane-cli.exe" read --port $Port --address 12 --watch 0.2 > "$work/watch" 2>&1 &
watcher=$!
pids+=($watcher)
for _ in $(seq 100); do [ "$(grep -c 21.5 "$work/watch")" -ge 2 ] && break; sleep 0.2; done
kill -INT $watcher
wait $watcher
rc=$?
check "read --watch ended by SIGINT (Ctrl-C): status $rc" test $rc = 130

started tcpsim "$sim" --exit-with-parent --listen 127.0.0.1:0 --address 3 --temperature -4.5 --humidity 88
win tcp morvane-cli.exe read --port "$first" --address 3
check "read --port $first (Linux morvane-sim --listen)" has tcp "-4\.5.*88\.0"

started simexe timeout $Limit wine "$dir/morvane-sim.exe" --listen 127.0.0.1:0 --address 9 --temperature 30.2
timeout 20 "$cli" read --port "$first" --address 9 > "$work/simexe.read" 2>&1
check "morvane-sim.exe --listen read by the Linux morvane-cli ($first)" has simexe.read "30\.2"

# The window, in English (started away from its Qm folder), on a virtual
# screen: this script again, as "--window", under xvfb-run.
timeout 20 wineserver -k
check "morvane.exe starts under Xvfb, window saved" \
    timeout 120 xvfb-run -a -s "-screen 0 1280x1024x24" bash "$0" --window "$work" "$dir"
[ -s "$work/window.png" ] && cp "$work/window.png" "$picture" && echo "window: $picture"

exit $failed
