#!/usr/bin/env bash
# morvane-try as "quickstart.sh run" starts it without a display: the real
# program, both plugins and the simulator. The address and values it prints
# are the simulator's (they match the last measurement reply in the printed
# log) and the picture is written; a signal ends it at once with its status,
# and nothing it started is left, even when it is killed. Its simulator and
# Morvane are told apart from the suite's others by their parent.
# Usage: check_try.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
set -m   # each morvane-try in a group of its own, as a terminal starts it, with SIGINT not ignored
source_dir=$1
build_dir=$2
work=$(mktemp -d)
pid=
trap '[ -z "$pid" ] || kill -KILL -- -"$pid" 2>/dev/null || true; rm -rf "$work"' EXIT
trap 'exit 1' INT TERM
export QT_QPA_PLATFORM=offscreen   # the live window too
cd "$work"   # where there is no catalogue: the window in English
try=(env -u DISPLAY -u WAYLAND_DISPLAY "$source_dir/operator/morvane-try" --morvane "$build_dir/src/morvane"
     --sim "$build_dir/sim/morvane-sim" --plugins "$build_dir/plugins")

fail() { echo "$*"; cat "$work/out"; exit 1; }
alive() { local state; state=$(ps -o stat= -p "$1") && [[ $state != Z* ]]; }
within() {   # seconds, command...: true once the command is, polled
    for _ in $(seq $(($1 * 10))); do "${@:2}" && return; sleep 0.1; done
    return 1
}
none_alive() { local p; for p in "$@"; do ! alive "$p" || return 1; done; }
children() {
    sim_pid=$(pgrep -P "$pid" -x morvane-sim) && morvane_pid=$(pgrep -P "$pid" -x morvane)
}
start() {   # options...
    "${try[@]}" "$@" > "$work/out" 2>&1 &
    pid=$!
    within 20 children || fail "morvane-try did not start its simulator and Morvane"
}
finish() {   # expected exit status
    within 20 none_alive "$pid" || fail "morvane-try still runs"
    local status=0
    wait "$pid" || status=$?
    [ "$status" = "$1" ] || fail "morvane-try exited $status, not $1"
    within 10 none_alive "$sim_pid" "$morvane_pid" || fail "left running: $(ps -o pid=,comm= -p "$sim_pid,$morvane_pid")"
}

start --picture "$work/session.png"
finish 0
cat "$work/out"
grep -qx 'Address: 1' "$work/out" || fail "no address 1 shown"
[ "$(grep -c -- '->RX  010306' "$work/out")" -ge 5 ] || fail "fewer than five values came in"
[ -s "$work/session.png" ] || fail "no picture"
reply=$(grep -- '->RX  010306' "$work/out" | tail -n1 | sed 's/.*->RX  //')
tenths() { local v=$((16#$1)); [ "${2:-}" = signed ] && [ $v -ge 32768 ] && v=$((v - 65536)); printf '%s%d.%d' "$([ $v -lt 0 ] && echo -)" $(( ${v#-} / 10 )) $(( ${v#-} % 10 )); }
expected="Temperature:$(tenths "${reply:6:4}" signed)℃  Humidity:$(tenths "${reply:10:4}")%  DewTemp:$(tenths "${reply:14:4}" signed)℃"
grep -qxF "$expected" "$work/out" || fail "shown values are not the last reply's: expected $expected"

# mode, signal, sent to (group: Ctrl-C at a terminal), exit status. An idle
# live window ends only if the signal reaches it.
while read -r mode signal to status; do
    echo "== $mode, SIG$signal to the $to"
    start "--$mode"
    # The session has printed the address (its standard output, read from
    # outside) before it is interrupted, so there is output to keep.
    [ "$mode" = live ] || within 20 grep -q '^Address: 1' "/proc/$morvane_pid/fd/1" || fail "no address read"
    if [ "$to" = group ]; then kill -"$signal" -- -"$pid"; else kill -"$signal" "$pid"; fi
    finish "$status"
    [ "$mode" = live ] || grep -qx 'Address: 1' "$work/out" || fail "the session's output was dropped"
done <<ROWS
headless INT group 130
headless TERM script 143
live TERM script 143
live KILL script 137
ROWS

# From a checkout without a build, the command that makes one.
mkdir -p "$work/checkout/operator" && touch "$work/checkout/CMakePresets.json"
cp "$source_dir/operator/morvane-try" "$work/checkout/operator/"
! "$work/checkout/operator/morvane-try" > "$work/out" 2>&1 \
    && grep -qF "Build it with: cd $work/checkout && cmake --preset default" "$work/out" || fail "no build command named"
