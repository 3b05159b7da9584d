#!/usr/bin/env bash
# quickstart.sh run   installs what is missing, builds and starts Morvane
# quickstart.sh test  installs what is missing, builds and runs every test:
#                     the suite with sanitizers, a short fuzz run, then the
#                     suite itself (its summary closes the output)
set -euo pipefail
cd "$(dirname "$0")/.."

what=${1:-}
case "$what" in
    run|test) ;;
    *) echo "usage: $0 run|test" >&2; exit 2 ;;
esac

bash scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null

if [ "$what" = run ]; then
    cmake --build build -j"$(nproc)" --target morvane
    if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
        echo "No display here. Start Morvane on a virtual one with:"
        echo "  xvfb-run -a build/src/morvane"
        exit 1
    fi
    exec build/src/morvane
fi

cmake --build build -j"$(nproc)"

echo "== The suite under AddressSanitizer and UndefinedBehaviorSanitizer"
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMORVANE_SANITIZE=ON >/dev/null
cmake --build build-asan -j"$(nproc)"
(cd build-asan && ctest --output-on-failure -j"$(nproc)" -E '^(install|catalogue)$')

echo "== Fuzzing reply reception for ${MORVANE_FUZZ_SECONDS:=60} s"
if ! bash fuzz/run-fuzz.sh "$MORVANE_FUZZ_SECONDS" > build/fuzz.log 2>&1; then
    tail -n 60 build/fuzz.log
    echo "The fuzzer found a problem; the full log is build/fuzz.log"
    exit 1
fi
grep -E '^(Done|stat::number_of_executed_units)' build/fuzz.log || true

echo "== The suite"
cd build
ctest --output-on-failure -j"$(nproc)"
