#!/usr/bin/env bash
# Prints Morvane's performance figures, each against a baseline measured in
# the same run:
#   1. reply-to-screen latency over a pseudo-terminal vs a bare poll() wake-up
#   2. start-up to the window mapped under Xvfb vs a bare Qt QWidget program
#   3. RSS after start-up vs the bare program, and growth per 10,000 log lines
#   4. CPU time while polling morvane-sim
# Usage: bench/run-bench.sh [start-up runs, default 30] [polling seconds, default 60]
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-30}
seconds=${2:-60}

bash scripts/install-deps.sh
if ! command -v xdotool >/dev/null; then
    sudo=""; [ "$(id -u)" -ne 0 ] && sudo=sudo
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends xdotool >/dev/null
fi
cmake --preset default >/dev/null
cmake --build --preset default -j"$(nproc)" --target morvane morvane-sim morvane-bench bare-qt >/dev/null

# Xvfb picks a free display itself and names it on the descriptor given.
work=$(mktemp -d)
exec 3> "$work/display"
Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp -noreset >/dev/null 2>&1 &
xvfb=$!
exec 3>&-
trap 'kill $xvfb 2>/dev/null; rm -rf "$work"' EXIT
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.05; done
export DISPLAY=:$(head -n1 "$work/display")
for _ in $(seq 100); do xdotool getdisplaygeometry >/dev/null 2>&1 && break; sleep 0.05; done

now_us() { echo $(( $(date +%s%N) / 1000 )); }

# Launch to window mapped; xdotool is asked every few milliseconds (its own
# --sync waits half a second between looks).
startup() {   # binary, window name; prints microseconds and the RSS in KiB
    local start pid rss
    start=$(now_us)
    (cd "$work" && exec "$1") >/dev/null 2>>"$work/stderr" &
    pid=$!
    until xdotool search --onlyvisible --name "^$2\$" >/dev/null 2>&1; do
        kill -0 $pid 2>/dev/null || { echo "$1 did not start:" >&2; cat "$work/stderr" >&2; exit 1; }
        sleep 0.002
    done
    echo -n "$(( $(now_us) - start )) "
    sleep 1
    rss=$(awk '/^VmRSS/ {print $2}' /proc/$pid/status)
    kill $pid; wait $pid 2>/dev/null || true
    echo "$rss"
}

summary() {   # name, file of numbers
    sort -n "$2" | awk -v name="$1" '{v[NR]=$1} END {
        p = int(NR * 0.99); if (p < 1) p = 1; if (p > NR) p = NR
        printf "%s median %d p99 %d\n", name, v[int((NR + 1) / 2)], v[p] }'
}

for i in $(seq "$runs"); do
    startup "$PWD/build/src/morvane" Morvane >> "$work/morvane"
    startup "$PWD/build/bench/bare-qt" bare >> "$work/bare"
done
echo "startup_runs $runs"
summary startup_morvane_us <(cut -d' ' -f1 "$work/morvane")
summary startup_bare_us <(cut -d' ' -f1 "$work/bare")
summary rss_morvane_kib <(cut -d' ' -f2 "$work/morvane")
summary rss_bare_kib <(cut -d' ' -f2 "$work/bare")
median() { sort -n | awk '{v[NR]=$1} END {print v[int((NR + 1) / 2)]}'; }
m=$(cut -d' ' -f1 "$work/morvane" | median)
b=$(cut -d' ' -f1 "$work/bare" | median)
awk -v m="$m" -v b="$b" 'BEGIN {printf "startup_ratio median %.2f\n", m / b}'
m=$(cut -d' ' -f2 "$work/morvane" | median)
b=$(cut -d' ' -f2 "$work/bare" | median)
awk -v m="$m" -v b="$b" 'BEGIN {printf "rss_ratio median %.2f (%+d KiB)\n", m / b, m - b}'

export QT_QPA_PLATFORM=offscreen
build/bench/morvane-bench latency 1000 2>/dev/null
build/bench/morvane-bench log 30000 2>/dev/null
build/bench/morvane-bench cpu "$seconds" 2>/dev/null
