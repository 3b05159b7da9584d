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
source operator/start-sim.sh
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
