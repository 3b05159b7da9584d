#!/usr/bin/env bash
# Prints morvane-cli plot's figures: a day and a week of readings, one a
# second from 20 simulated modules (bench/make-log: the simulator's modules
# and drift, 1 % missed), each drawn to PNG. For each: rows, wall time,
# rows per second and peak RSS (from /usr/bin/time -v).
# Usage: bench/run-plot-bench.sh [modules, default 20]
set -euo pipefail
cd "$(dirname "$0")/.."
modules=${1:-20}

bash scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default -j"$(nproc)" --target morvane-cli make-log >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

for span in day:86400 week:604800; do
    name=${span%%:*}
    build/bench/make-log "$modules" "${span#*:}" > "$work/$name.csv"
    rows=$(( $(wc -l < "$work/$name.csv") - 1 ))
    # Twice: the first run warms the page cache for the second, measured.
    build/cli/morvane-cli plot "$work/$name.csv" -o "$work/$name.png" 2>/dev/null
    env -u DISPLAY -u WAYLAND_DISPLAY /usr/bin/time -v -o "$work/time" \
        build/cli/morvane-cli plot "$work/$name.csv" -o "$work/$name.png" 2>/dev/null
    awk -v name="$name" -v rows="$rows" '
        /Elapsed \(wall clock\)/ { n = split($NF, t, ":"); wall = t[n] + (n > 1 ? 60 * t[n-1] : 0) }
        /Maximum resident set size/ { rss = $NF }
        END { printf "plot_%s_png rows %d wall_s %.2f rows_per_s %.0f peak_rss_mb %.0f\n",
              name, rows, wall, rows / wall, rss / 1024 }' "$work/time"
    rm -f "$work/$name.csv"
done
