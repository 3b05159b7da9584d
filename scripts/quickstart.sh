#!/usr/bin/env bash
# quickstart.sh run   installs what is missing, builds and starts Morvane
#                     with a simulated module (morvane-try); without a
#                     display, runs that session headless and prints it
# quickstart.sh run --hardware
#                     the same, but Morvane alone, for a real module
# quickstart.sh test  installs what is missing, builds and runs every test:
#                     the suite with sanitizers while the fuzzer runs for a
#                     minute, then the suite itself (its summary closes the
#                     output)
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

echo "== Fuzzing reply reception for ${MORVANE_FUZZ_SECONDS:=60} s, meanwhile the suite under sanitizers"
bash fuzz/run-fuzz.sh "$MORVANE_FUZZ_SECONDS" > build/fuzz.log 2>&1 &
fuzzer=$!
trap 'kill $fuzzer 2>/dev/null || true' EXIT
ctest --preset sanitizers -j"$jobs"
if ! wait $fuzzer; then
    tail -n 60 build/fuzz.log
    echo "The fuzzer found a problem; the full log is build/fuzz.log"
    exit 1
fi
grep -E '^(Done|stat::number_of_executed_units)' build/fuzz.log || true

echo "== The suite"
ctest --preset default -j"$jobs"
