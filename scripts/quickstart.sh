#!/usr/bin/env bash
# quickstart.sh run   installs what is missing, builds and starts Morvane
#                     with a simulated module (morvane-try); without a
#                     display, runs that session headless and prints it
# quickstart.sh run --hardware
#                     the same, but Morvane alone, for a real module
# quickstart.sh test  installs what is missing, builds and runs every test:
#                     the suite with sanitizers, the fuzzers for a minute,
#                     the suite itself (its summary closes the output), and
#                     a check that no program the tests started is left
set -euo pipefail
cd "$(dirname "$0")/.."

what=${1:-}
case "$what ${2:-}" in
    "run "|"run --hardware"|"test ") ;;
    *) echo "usage: $0 run [--hardware] | test" >&2; exit 2 ;;
esac

bash scripts/install-deps.sh
jobs=$(nproc)
cmake --preset default >/dev/null

if [ "$what" = run ]; then
    cmake --build --preset default -j"$jobs" --target morvane morvane-sim morvaneoperator translations
    if [ "${2:-}" = --hardware ]; then
        if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
            echo "No display here. Start Morvane on a virtual one with:"
            echo "  xvfb-run -a build/src/morvane"
            exit 1
        fi
        exec build/src/morvane
    fi
    exec operator/morvane-try --morvane build/src/morvane --sim build/sim/morvane-sim \
        --plugins build/plugins --picture build/session.png
fi

cmake --build --preset default -j"$jobs"
cmake --preset sanitizers >/dev/null
cmake --build --preset sanitizers -j"$jobs"

# The timing checks run with nothing else on the machine: the fuzzers come
# between the two runs of the suite, not beside them.
echo "== The suite under sanitizers"
ctest --preset sanitizers -j"$jobs"

echo "== Fuzzing for ${MORVANE_FUZZ_SECONDS:=60} s: reply reception, the CLI's replies, the simulator's requests"
if ! bash fuzz/run-fuzz.sh "$MORVANE_FUZZ_SECONDS" > build/fuzz.log 2>&1; then
    cat build/fuzz.log
    echo "The fuzzers found a problem (build/fuzz.log)"
    exit 1
fi
grep -E 'executions in' build/fuzz.log

echo "== The suite"
ctest --preset default -j"$jobs"

# Nothing the tests started is left running (a few seconds' grace for what
# is still on its way out).
for _ in $(seq 50); do
    left=$(pgrep -a -f "$PWD/build[^ ]*/(sim/morvane-sim|src/morvane|cli/morvane-cli)( |$)" || true)
    [ -z "$left" ] && break
    sleep 0.1
done
if [ -n "$left" ]; then
    echo "Still running after the tests:"
    echo "$left"
    exit 1
fi
