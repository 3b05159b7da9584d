#!/usr/bin/env bash
# The session "quickstart.sh run" gives on a machine without a display: the
# real program, the operator plugin and the simulator, as morvane-try starts
# them. The address and values it prints are the simulator's (they match the
# last measurement reply in the printed log), and the picture is written.
# Usage: check_try.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
source_dir=$1
build_dir=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

env -u DISPLAY -u WAYLAND_DISPLAY "$source_dir/operator/morvane-try" --morvane "$build_dir/src/morvane" \
    --sim "$build_dir/sim/morvane-sim" --plugins "$build_dir/plugins" --picture "$work/session.png" | tee "$work/out"
grep -qx 'Address: 1' "$work/out" || { echo "no address 1 shown"; exit 1; }
[ "$(grep -c -- '->RX  010306' "$work/out")" -ge 5 ] || { echo "fewer than five values came in"; exit 1; }
[ -s "$work/session.png" ] || { echo "no picture"; exit 1; }

reply=$(grep -- '->RX  010306' "$work/out" | tail -n1 | sed 's/.*->RX  //')
tenths() { local v=$((16#$1)); [ "${2:-}" = signed ] && [ $v -ge 32768 ] && v=$((v - 65536)); printf '%s%d.%d' "$([ $v -lt 0 ] && echo -)" $(( ${v#-} / 10 )) $(( ${v#-} % 10 )); }
expected="Temperature:$(tenths "${reply:6:4}" signed)℃  Humidity:$(tenths "${reply:10:4}")%  DewTemp:$(tenths "${reply:14:4}" signed)℃"
grep -qxF "$expected" "$work/out" || { echo "shown values are not the last reply's: expected $expected"; exit 1; }
# Nothing is left running.
for _ in $(seq 50); do pgrep -f "$build_dir/sim/morvane-sim" >/dev/null || exit 0; sleep 0.1; done
echo "the simulator is still running"
exit 1
