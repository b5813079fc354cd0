#!/usr/bin/env bash
# One real survey through kestranov-grid at 3 ft, to .asc and to .tif on one
# and two threads, runs interleaved (A B C D, five times), medians of wall,
# user and system seconds and of the peak RSS; LASzip's plain decode of the
# file as the anchor where a LASzip build is present: LASZIP_BIN, a program
# that decodes every point of the file given as its argument and writes
# nothing (a peer for timing only; nothing here links it). Then the peak split
# into what holds it: the program and its libraries (a run on a 40-point
# file), the reading (the same survey onto a grid of a few cells), the grid's
# cells, and the rest (the output's encoding). The coordinate system's part is
# that of the survey's own (SURVEY-SRS) given to the small file.
# usage: survey.sh KESTRANOV-GRID SURVEY.laz SURVEY-SRS WORK-DIR SMALL.laz
set -euo pipefail
grid=$1 survey=$2 srs=$3 dir=$4 small=$5
runs=${SURVEY_RUNS:-5}
name=$(basename "$survey")

# "wall user sys peak_kib" of one run of the command.
measure() {
    /usr/bin/time -o "$dir/survey.time" -f '%e %U %S %M' "$@" >/dev/null 2>&1 || {
        echo "survey: '$*' failed" >&2
        return 1
    }
    cat "$dir/survey.time"
}
median() { sort -g | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'; }

peer=()
[ -n "${LASZIP_BIN:-}" ] && peer=("$LASZIP_BIN" "$survey")

configs=("asc 1" "asc 2" "tif 1" "tif 2")
declare -A results
[ ${#peer[@]} -gt 0 ] && configs=("laszip -" "${configs[@]}")
for ((r = 0; r < runs; ++r)); do
    for c in "${configs[@]}"; do
        set -- $c
        if [ "$1" = laszip ]; then
            line=$(measure "${peer[@]}")
        else
            line=$(measure "$grid" "$survey" --cell 3 -q --threads "$2" -o "$dir/survey.$1")
        fi
        results[$c]+="$line"$'\n'
    done
done

field() { printf '%s' "${results[$1]}" | awk -v k="$2" 'NF {print $k}' | median; }
echo "== real survey: $name at 3 ft, medians of $runs, load $(cut -d' ' -f1-3 /proc/loadavg)"
anchor=""
if [ ${#peer[@]} -gt 0 ]; then
    anchor=$(field "laszip -" 1)
    printf '  LASzip decoding the file once (%s): %.2f s (user %.2f, sys %.2f), peak RSS %.1f MiB\n' \
        "$(basename "${peer[0]}")" "$anchor" "$(field "laszip -" 2)" "$(field "laszip -" 3)" \
        "$(echo "$(field "laszip -" 4)" | awk '{print $1 / 1024}')"
else
    echo "  LASzip decoding: skipped, no LASzip build (set LASZIP_BIN to a program that decodes every point of the file given)"
fi
for c in "asc 1" "asc 2" "tif 1" "tif 2"; do
    set -- $c
    wall=$(field "$c" 1)
    ratio=""
    [ -n "$anchor" ] && ratio=$(awk -v w="$wall" -v a="$anchor" 'BEGIN {printf ", %.2fx LASzip", w / a}')
    printf '  kestranov-grid to .%s, %s thread%s: %.2f s%s (user %.2f, sys %.2f), peak RSS %.1f MiB\n' "$1" "$2" \
        "$([ "$2" = 1 ] && echo "" || echo s)" "$wall" "$ratio" "$(field "$c" 2)" "$(field "$c" 3)" \
        "$(echo "$(field "$c" 4)" | awk '{print $1 / 1024}')"
done

# What holds the peak: each part as the difference of two runs' peaks (one
# run each: the peaks move by about 1 MiB from run to run).
peak() { measure "$@" | awk '{print $4}'; }
base=$(peak "$grid" "$small" --cell 100 -q -o "$dir/survey_small.asc")
crs=$(peak "$grid" "$small" --cell 100 -q --srs "$srs" -o "$dir/survey_small.asc")
cells=$(head -2 "$dir/survey.asc" | awk '{n = n ? n * $2 : $2} END {print n}')
for t in 1 2; do
    reading=$(peak "$grid" "$survey" --cell 3000 -q --srs "$srs" --threads "$t" -o "$dir/survey_few.asc")
    for ext in asc tif; do
        total=$(peak "$grid" "$survey" --cell 3 -q --threads "$t" -o "$dir/survey.$ext")
        awk -v t="$t" -v e="$ext" -v total="$total" -v base="$base" -v crs="$crs" -v reading="$reading" \
            -v cells="$cells" 'BEGIN {
            mib = 1024; grid = cells * 8 / 1048576
            printf "  memory, .%s on %d thread%s: peak %.1f MiB = the program and its libraries %.1f" \
                   " + the coordinate system (PROJ) %.1f + the reading %.1f + the grid %.1f (%d cells of 8 bytes)" \
                   " + the rest (the output) %.1f\n", e, t, t == 1 ? "" : "s", total / mib, base / mib,
                   (crs - base) / mib, (reading - crs) / mib, grid, cells, total / mib - reading / mib - grid
        }'
    done
done
rm -f "$dir/survey.time" "$dir/survey.asc" "$dir/survey.tif" "$dir/survey_small.asc" "$dir/survey_few.asc" "$dir"/survey*.prj
