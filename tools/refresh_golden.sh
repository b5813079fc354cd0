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

# Each console is taken first into the work folder: a run that crashed or
# ended in a way the golden run does not (status 0 expected) rewrites nothing.
run() {  # name answers
    local status=0
    (cd "$work" && printf "$2" | "$bin" > "$work/$1.console") || status=$?
    if [ "$status" -ne 0 ]; then
        echo "refresh_golden: the $1 run ended with status $status; no golden file was changed" >&2
        exit 1
    fi
}
run ascii 'golden\n1\nslope\n1\n0\nascii\n0\n'
run raster 'golden\n1\nslope\n1\n1\nraster\n1\n0\n2\n'
cp "$work/ascii.console" "$work/raster.console" "$golden/"
cp "$work/images/golden/ascii_lidar.asc" "$work/images/golden/raster_lidar_m2.raw" \
   "$work/images/golden/raster_lidar_m2.txt" "$golden/"
echo "golden files rewritten in $golden; review them with git diff"
