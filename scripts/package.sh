#!/usr/bin/env bash
# Builds the Debian package build-deb/morvane_*.deb, installed under /usr.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake --preset package >/dev/null
cmake --build --preset package -j"$(nproc)"
(cd build-deb && cpack -G DEB)
ls build-deb/morvane_*.deb
