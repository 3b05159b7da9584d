#!/usr/bin/env bash
# Installs what building, running and testing Morvane needs on Debian 12 or
# Ubuntu. Says nothing when everything is already there.
set -euo pipefail

packages=(
    cmake g++ make dpkg-dev file
    qtbase5-dev libqt5serialport5-dev qttools5-dev qttools5-dev-tools libqt5svg5-dev
    socat mbpoll mosquitto mosquitto-clients
    xvfb xauth
    lintian help2man appstream desktop-file-utils man-db procps
    clang libclang-rt-dev python3 python3-jsonschema
)

if ! command -v dpkg-query >/dev/null || ! command -v apt-get >/dev/null; then
    echo "This is not a Debian-like system. Install the equivalents of:" >&2
    printf '  %s\n' "${packages[@]}" >&2
    exit 1
fi

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
if [ "$(id -u)" -ne 0 ]; then
    command -v sudo >/dev/null || { echo "Run as root or install sudo; missing: ${missing[*]}" >&2; exit 1; }
    sudo=sudo
fi
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
