# Sourced by morvane-try, scripts/make-screenshots.sh and
# bench/run-cli-bench.sh, so that all three start the simulator one way.
# start_sim OPTIONS... starts $sim with these options and --exit-with-parent
# (it ends with the calling shell, even a killed one), adds its process id
# to the array sims and sets port to its terminal (with --listen, its
# tcp://HOST:PORT); or says why it did not
# start and ends the script.
start_sim() {
    exec {sim_out}< <(exec "$sim" --exit-with-parent "$@")
    sims+=($!)
    local why=
    if ! read -r -t 10 -u "$sim_out" port; then why="it printed no terminal within 10 s"
    elif [[ $port != tcp://* && ! -e $port ]]; then why="its terminal $port does not exist"
    elif ! kill -0 "${sims[-1]}" 2>/dev/null; then why="it ended"
    fi
    [ -z "$why" ] || { echo "$(basename "$0"): morvane-sim did not start: $why" >&2; exit 1; }
}
