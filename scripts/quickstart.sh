#!/usr/bin/env bash
# quickstart.sh run   installs what is missing, builds and starts Morvane
# quickstart.sh test  installs what is missing, builds and runs every test
set -euo pipefail
cd "$(dirname "$0")/.."

what=${1:-}
case "$what" in
    run|test) ;;
    *) echo "usage: $0 run|test" >&2; exit 2 ;;
esac

bash scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)"

if [ "$what" = run ]; then
    if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
        echo "No display here. Start Morvane on a virtual one with:"
        echo "  xvfb-run -a build/src/morvane"
        exit 1
    fi
    exec build/src/morvane
fi

cd build
ctest --output-on-failure -j"$(nproc)"
