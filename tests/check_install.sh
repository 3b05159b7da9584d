#!/usr/bin/env bash
# cmake --install and the Debian package both carry the program, the
# simulator, the catalogue, the desktop entry and the icon.
set -euo pipefail
# Usage: check_install.sh BUILD_DIR INSTALL_PREFIX
build_dir=$1
prefix=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
expected=(
    bin/morvane bin/morvane-sim bin/morvane-cli share/morvane/Qm/Chinese.qm
    share/applications/morvane.desktop share/icons/hicolor/scalable/apps/morvane.svg
    bin/morvane-try share/morvane/start-sim.sh lib/morvane/plugins/generic/libmorvaneportadder.so
    lib/morvane/plugins/generic/libmorvanerobot.so
    share/bash-completion/completions/morvane-cli share/morvane/reading.schema.json
)

DESTDIR="$work/root" cmake --install "$build_dir" >/dev/null
for f in "${expected[@]}"; do
    [ -s "$work/root$prefix/$f" ] || { echo "not installed: $prefix/$f"; exit 1; }
done
grep -q "cd $prefix/share/morvane" "$work/root$prefix/share/applications/morvane.desktop"

(cd "$build_dir" && cpack -G DEB -B "$work/deb" >/dev/null)
deb=$(ls "$work"/deb/morvane_*.deb)
listing=$(dpkg-deb -c "$deb")
for f in "${expected[@]}"; do
    grep -q " \.$prefix/$f\$" <<<"$listing" || { echo "not in the package: $prefix/$f"; echo "$listing"; exit 1; }
done
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
for lib in libqt5widgets5 libqt5serialport5 libqt5core5a; do
    grep -q "$lib" <<<"$depends" || { echo "missing dependency on $lib"; exit 1; }
done
