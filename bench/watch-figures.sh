# Sourced by the CLI benchmarks. watch_figures SECONDS LABEL COMMAND...
# runs COMMAND (a read --watch, its CSV to $work/watch.csv) for SECONDS,
# printing its RSS each minute and its CPU share at the end; LABEL follows
# the CPU figure. The command's process id joins $sims, so the caller's
# trap ends it.
watch_figures() {
    local seconds=$1 label=$2
    shift 2
    "$@" > "$work/watch.csv" &
    local watcher=$!
    sims+=($watcher)
    for minute in $(seq 0 $(( seconds / 60 ))); do
        [ "$minute" -gt 0 ] && sleep $(( seconds / 60 > 0 ? 60 : seconds ))
        echo "watch_rss_kib minute $minute $(awk '/^VmRSS/ {print $2}' /proc/$watcher/status)"
    done
    local utime stime
    read -r utime stime < <(awk '{print $14, $15}' /proc/$watcher/stat)
    kill -INT $watcher; wait $watcher || true
    awk -v u="$utime" -v s="$stime" -v t="$(getconf CLK_TCK)" -v n="$seconds" -v l="$label" \
        'BEGIN {printf "watch_cpu_s %.2f over %d s (%.3f%% of one core%s)\n", (u + s) / t, n, 100 * (u + s) / t / n, l}'
}
