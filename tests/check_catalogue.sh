#!/usr/bin/env bash
# Every text of the program has a finished translation in the catalogue:
# lupdate over the sources finds nothing new and nothing gone.
set -euo pipefail
source_dir=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$source_dir/translations/Chinese.ts" "$work/Chinese.ts"
out=$(cd "$source_dir" && lupdate -locations none src -ts "$work/Chinese.ts" 2>&1)
echo "$out"
grep -q '(0 new and' <<<"$out" || { echo "the sources have texts the catalogue lacks"; exit 1; }
if grep -q 'type="\(unfinished\|obsolete\|vanished\)"' "$work/Chinese.ts"; then
    echo "the catalogue has unfinished or vanished entries:"
    grep -B2 'type="\(unfinished\|obsolete\|vanished\)"' "$work/Chinese.ts"
    exit 1
fi
