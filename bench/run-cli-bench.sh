#!/usr/bin/env bash
# Prints morvane-cli's figures against morvane-sim on pseudo-terminals:
#   1. find with the module at the last speed tried (1200 bit/s)
#   2. one read at 9600 bit/s, and the line time of its two frames
#   3. find --scan of addresses 1-247 at 9600 bit/s with --timeout 50
#   4. read --watch 1 for SECONDS: RSS each minute, CPU per second of run
# Usage: bench/run-cli-bench.sh [watch seconds, default 3600] [reads, default 50]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-3600}
reads=${2:-50}

bash scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default -j"$(nproc)" --target morvane-cli morvane-sim >/dev/null
cli=build/cli/morvane-cli
sim=build/sim/morvane-sim
work=$(mktemp -d)
sims=()   # and the watcher
trap 'kill "${sims[@]}" 2>/dev/null || true; wait "${sims[@]}" 2>/dev/null || true; rm -rf "$work"' EXIT

source operator/start-sim.sh
source bench/watch-figures.sh
ms() { echo $(( $(date +%s%N) / 1000000 )); }

start_sim --address 9 --baud 1200
start=$(ms); $cli find --port "$port" >/dev/null; echo "find_last_speed_ms $(( $(ms) - start ))"

start_sim --address 3
for _ in $(seq "$reads"); do
    start=$(date +%s%N); $cli read --port "$port" --address 3 >/dev/null
    echo $(( ($(date +%s%N) - start) / 1000 ))
done | sort -n | awk '{v[NR]=$1} END {printf "read_once_us median %d max %d (a pseudo-terminal carries bytes at once; a real line adds 19800 for 8 + 11 bytes at 9600)\n", v[int((NR+1)/2)], v[NR]}'

start_sim --address 200
start=$(ms); $cli find --scan --port "$port" --baud 9600 --timeout 50 >/dev/null
echo "scan_247_addresses_9600_timeout_50_ms $(( $(ms) - start ))"

start_sim --address 3 --drift
watch_figures "$seconds" "" $cli read --port "$port" --address 3 --watch 1 --format csv
echo "watch_lines $(($(wc -l < "$work/watch.csv") - 1))"
