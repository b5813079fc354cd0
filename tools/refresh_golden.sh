#!/usr/bin/env bash
# Rewrites the golden files of the end-to-end tests from the built program.
# Run it only after a deliberate change of the output, then review the diff
# of tests/data/golden/ before committing it.
set -euo pipefail
cd "$(dirname "$0")/.."
bin="$(pwd)/${1:-build}/kestranov"
golden="$(pwd)/tests/data/golden"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/images/golden"
cp "$golden/slope.xyz" "$work/images/golden/"

run() {  # name answers
    (cd "$work" && printf "$2" | "$bin" > "$golden/$1.console") || true
}
run ascii 'golden\n1\nslope\n1\n0\nascii\n0\n'
run raster 'golden\n1\nslope\n1\n1\nraster\n1\n0\n2\n'
cp "$work/images/golden/ascii_lidar.asc" "$work/images/golden/raster_lidar_m2.raw" \
   "$work/images/golden/raster_lidar_m2.txt" "$golden/"
echo "golden files rewritten in $golden; review them with git diff"
