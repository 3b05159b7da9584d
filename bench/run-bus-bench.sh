#!/usr/bin/env bash
# Prints morvane-cli's figures on a bus: morvane-sim playing 20 modules at
# 9600 bit/s with --wire-time, so a pseudo-terminal costs what a line does.
#   1. one round of read --address 1-20 (the whole run, start to end) against
#      the frames' wire time plus 3.5 characters of silence after each frame
#   2. find --scan at 9600 bit/s, its default timeout
#   3. the same round through tcp://127.0.0.1 (the simulator's --listen)
#   4. read --watch 1 of the 20 modules for SECONDS: RSS each minute, CPU
# Usage: bench/run-bus-bench.sh [watch seconds, default 3600] [rounds, default 9]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-3600}
rounds=${2:-9}

bash scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default -j"$(nproc)" --target morvane-cli morvane-sim >/dev/null
work=$(mktemp -d)
# Copies, so that a rebuild during an hour's run leaves it alone.
cp build/cli/morvane-cli build/sim/morvane-sim "$work"
cli=$work/morvane-cli
sim=$work/morvane-sim
sims=()   # and the watcher
trap 'kill "${sims[@]}" 2>/dev/null || true; wait "${sims[@]}" 2>/dev/null || true; rm -rf "$work"' EXIT

source operator/start-sim.sh
source bench/watch-figures.sh
us() { echo $(( $(date +%s%N) / 1000 )); }
# The median of ROUNDS timed runs of one round, in microseconds.
round_us() {
    for _ in $(seq "$rounds"); do
        local start; start=$(us)
        "$cli" read --port "$1" --address 1-20 --format csv >/dev/null
        echo $(( $(us) - start ))
    done | sort -n | awk '{v[NR]=$1} END {print v[int((NR+1)/2)]}'
}

# 20 × (8 + 11 bytes) at 11 bits a byte, and 2 × 3.5 characters each.
wire_us=$(awk 'BEGIN {printf "%d", 20 * 19 * 11 / 9600 * 1e6}')
silence_us=$(awk 'BEGIN {printf "%d", 20 * 2 * 3.5 * 11 / 9600 * 1e6}')

start_sim --address 1-20 --wire-time
pty=$port
pty_us=$(round_us "$pty")
awk -v r="$pty_us" -v w="$wire_us" -v s="$silence_us" 'BEGIN {
    printf "round_20_modules_pty_ms %.1f (wire %.1f + silence %.1f = %.1f; ratio %.3f, aim < 1.25)\n",
        r / 1000, w / 1000, s / 1000, (w + s) / 1000, r / (w + s) }'

start=$(us); "$cli" find --scan --port "$pty" --baud 9600 >/dev/null
echo "scan_247_addresses_9600_default_timeout_s $(awk -v t=$(( $(us) - start )) 'BEGIN {printf "%.2f", t / 1e6}') (aim < 10)"

start_sim --address 1-20 --wire-time --listen 127.0.0.1:0
tcp_us=$(round_us "$port")
awk -v t="$tcp_us" -v p="$pty_us" 'BEGIN {
    printf "round_20_modules_tcp_ms %.1f (%+.1f %% against the pseudo-terminal, aim within 10 %%)\n", t / 1000, 100 * (t - p) / p }'

start_sim --address 1-20 --wire-time --drift
watch_figures "$seconds" ", aim < 1" "$cli" read --port "$port" --address 1-20 --watch 1 --format csv
rows=$(($(wc -l < "$work/watch.csv") - 1))
echo "watch_rows $rows ($(grep -c ',ok$' "$work/watch.csv") ok) of $(( (seconds + 1) * 20 )) at most"
