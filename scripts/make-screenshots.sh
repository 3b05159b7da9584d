#!/usr/bin/env bash
# Regenerates the README pictures in docs/ from the real program, on the
# offscreen platform, talking to morvane-sim.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

bash scripts/install-deps.sh
fonts=(fonts-liberation fonts-wqy-microhei)
missing=()
for p in "${fonts[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    sudo=""; [ "$(id -u)" -ne 0 ] && sudo=sudo
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

cmake --preset default >/dev/null
cmake --build --preset default -j"$(nproc)" --target morvane morvane-sim morvaneoperator translations
mkdir -p docs

work=$(mktemp -d)
sim=build/sim/morvane-sim
sims=()
trap 'kill "${sims[@]}" 2>/dev/null || true; wait "${sims[@]}" 2>/dev/null || true; rm -rf "$work"' EXIT
# Starts morvane-sim with these options and sets port to its terminal, or
# ends the script; --exit-with-parent ends it with this shell, even a killed
# one. The same lines start it in operator/morvane-try and
# bench/run-cli-bench.sh.
start_sim() {
    exec {sim_out}< <(exec "$sim" --exit-with-parent "$@")
    sims+=($!)
    local why=
    if ! read -r -t 10 -u "$sim_out" port; then why="it printed no terminal within 10 s"
    elif [ ! -e "$port" ]; then why="its terminal $port does not exist"
    elif ! kill -0 "${sims[-1]}" 2>/dev/null; then why="it ended"
    fi
    [ -z "$why" ] || { echo "$(basename "$0"): morvane-sim did not start: $why" >&2; exit 1; }
}
start_sim --address 7 --temperature 22.8 --humidity 56.3 --drift --seed 3

shoot() {   # working directory, file name prefix
    (cd "$1" && QT_QPA_PLATFORM=offscreen QT_PLUGIN_PATH="$root/build/plugins" \
        QT_QPA_GENERIC_PLUGINS=morvaneportadder,morvanerobot MORVANE_OPERATOR=session MORVANE_OPERATOR_PORT="$port" \
        MORVANE_OPERATOR_WINDOW_PNG="$root/docs/$2main-window.png" \
        MORVANE_OPERATOR_DIALOG_PNG="${3:+$root/docs/$2settings-dialog.png}" "$root/build/src/morvane" >/dev/null)
}
mkdir -p "$work/en" "$work/zh/Qm"
cp build/Qm/Chinese.qm "$work/zh/Qm/"
shoot "$work/en" "" dialog
shoot "$work/zh" "zh-"
ls -l docs/*.png
