#!/usr/bin/env bash
# The Debian package passes Debian's own checker without errors or warnings,
# its manual pages render, and its desktop entry and AppStream metadata
# validate. Packs the build tree under /usr, as scripts/package.sh does.
# Usage: check_package.sh BUILD_DIR; exits 77 (skipped) without lintian.
set -euo pipefail
build_dir=$1
for tool in lintian appstreamcli desktop-file-validate; do
    command -v $tool >/dev/null || { echo "SKIPPED: $tool is not installed (scripts/install-deps.sh installs it)"; exit 77; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

(cd "$build_dir" && cpack -G DEB -B "$work/deb" -D CPACK_PACKAGING_INSTALL_PREFIX=/usr >/dev/null)
deb=$(ls "$work"/deb/morvane_*.deb)
report=$(lintian --no-tag-display-limit "$deb" 2>&1 | grep -v 'running with root privileges' || true)
if grep -E '^[EW]: ' <<<"$report"; then
    echo "lintian finds the errors and warnings above"
    exit 1
fi

dpkg-deb -x "$deb" "$work/root"
for page in "$work"/root/usr/share/man/man1/*.1.gz; do
    problems=$(MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null || true)
    [ -z "$problems" ] || { echo "$page:"; echo "$problems"; exit 1; }
done
[ "$(ls "$work"/root/usr/bin | wc -l)" -eq "$(ls "$work"/root/usr/share/man/man1 | wc -l)" ] \
    || { echo "a program in bin/ has no manual page"; exit 1; }
appstreamcli validate --no-net "$work"/root/usr/share/metainfo/*.metainfo.xml
desktop-file-validate "$work"/root/usr/share/applications/morvane.desktop
