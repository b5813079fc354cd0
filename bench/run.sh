#!/usr/bin/env bash
# make bench: generates the benchmark clouds outside the repository (once),
# then measures each against the from_chars parsing floor and a plain fscanf
# reader, and the two writers. BENCH_DIR picks where the clouds go (default
# /tmp/kestranov-bench; the 20M clouds take 560 MB or more each).
# KESTRANOV_SIMD=avx512|avx2|scalar forces the point reader's vector path
# (the program reads it; the benchmark passes it through) to compare paths.
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
dir=${BENCH_DIR:-/tmp/kestranov-bench}
shared=${KESTRANOV_SHARED_DATA:-$(cd "$(dirname "$0")/.." && pwd)/../shared/data}
mkdir -p "$dir"
gen="$build/tools/make_cloud"
bench="$build/bench/kestranov_bench"

cloud() {  # name points order [make_cloud options...]
    local name=$1 points=$2 order=$3 ext=xyz
    shift 3
    [[ " $* " == *" --las "* ]] && ext=las
    [ -f "$dir/$name.$ext" ] || "$gen" "$dir/$name.$ext" --points "$points" --size 1000 --order "$order" "$@" 2>/dev/null
}
cloud 1m_scan 1000000 scan
cloud 1m_random 1000000 random
cloud 20m_scan 20000000 scan
cloud 20m_random 20000000 random
# Records that change width from line to line: X and Y to the millimetre,
# elevations from -4 to 2400 m (a minus sign, then one to four integer
# digits, each for a fifth of the records), in random order.
cloud 20m_shapes 20000000 random --xy-decimals 3 --z-range -4 2400
# The same 5M points as text and as LAS (point format 1, 28-byte records).
cloud 5m_scan 5000000 scan
cloud 5m_scan 5000000 scan --las

echo "== $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//'), load $(cut -d' ' -f1-3 /proc/loadavg)"
echo "== $("$bench" --path)"
# The 20M clouds (and the 5M one) also time kestranov-grid --output-type mean,count against max alone (both
# to a GeoTIFF), and its default grid to a GeoTIFF against the same to an ESRI grid.
for c in 1m_scan 1m_random; do "$bench" "$dir/$c.xyz" --runs 3; done
for c in 20m_scan 20m_random 20m_shapes; do "$bench" "$dir/$c.xyz" --runs 3 --statistics; done
# The same 5M points as LAZ (format 1 and the layered format 6), where the samples are.
laz=()
for f in cloud5m_f1 cloud5m_f6; do
    [ -f "$shared/laz/$f.laz" ] && laz+=(--laz "$shared/laz/$f.laz")
done
"$bench" "$dir/5m_scan.xyz" --runs 5 --no-fscanf --statistics --las "$dir/5m_scan.las" ${laz[@]+"${laz[@]}"}
# The real survey (point format 2 with colours, 10.65M points; see its README) at 3 ft;
# its coordinate system is Oregon GIC Lambert in feet (EPSG:2994).
survey="$shared/real/autzen_full.laz"
grid_exe="$build/kestranov-grid"
if [ ! -f "$survey" ]; then
    echo "== real survey: skipped, $survey is missing"
elif [ ! -x "$grid_exe" ]; then
    echo "== real survey: skipped, $grid_exe is not built"
else
    "$(dirname "$0")/survey.sh" "$grid_exe" "$survey" EPSG:2994 "$dir" "$(cd "$(dirname "$0")/.." && pwd)/tests/data/laz/point10_4x10.laz"
fi
# The 20M area as 16 tiles of 250 m through GNU parallel on every core,
# against the single run of kestranov-grid on the same cloud and cell.
grid="$build/kestranov-grid"
if [ -x "$grid" ] && command -v parallel >/dev/null 2>&1; then
    tiles="$dir/tiles_20m_scan"
    seconds() { local t0 t1; t0=$(date +%s%N); "$@" >/dev/null; t1=$(date +%s%N); echo "$(((t1 - t0) / 1000000))"; }
    rm -rf "$tiles"
    area=(--bounds 480000 2150000 481000 2151000)
    single=$(seconds "$grid" "$dir/20m_scan.xyz" --cell 1 "${area[@]}" -q -o "$dir/single_20m_scan.tif")
    plan=$(seconds "$grid" "$dir/20m_scan.xyz" --cell 1 "${area[@]}" --tile-size 250 -q -o "$tiles")
    run=$(seconds parallel -j "$(nproc)" <"$tiles/jobs.txt")
    echo "== tiles: 20m_scan at 1 m as $(wc -l <"$tiles/jobs.txt") tiles through GNU parallel on $(nproc) cores:" \
         "plan ${plan} ms, tiles ${run} ms, against the single run's ${single} ms (each tile reads the one file)"
    rm -rf "$tiles" "$dir/single_20m_scan.tif"
fi
# The tin band against CGAL's Delaunay triangulation (bench/tin_cgal_peer.cpp):
# our whole run, reading and writing included, on 1 and 2 threads, beside
# CGAL's triangulation and interpolation alone, its points already in
# memory. Wall and CPU seconds, each the median of TIN_RUNS runs (default 3)
# taken in turn; the ratios are ours over CGAL's.
peer="$build/bench/tin_cgal_peer"
tin_runs=${TIN_RUNS:-3}
median() { sort -g | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'; }
timed() {  # command...: "wall cpu" of one run, its output dropped; a failed run stops the benchmark
    local TIMEFORMAT='%R %U %S' t
    t=$({ time "$@" >/dev/null 2>&1; } 2>&1) || { echo "run.sh: failed: $*" >&2; return 1; }
    awk '{printf "%.3f %.3f\n", $1, $2 + $3}' <<<"$t"
}
tin_row() {  # label file cell
    local label=$1 file=$2 cell=$3 k
    if [ ! -f "$file" ]; then
        echo "== tin, $label: skipped, $file is missing"
        return
    fi
    if [ ! -x "$grid" ]; then
        echo "== tin, $label: skipped, kestranov-grid was not built (GDAL missing)"
        return
    fi
    local out="$dir/tin_$label.tif" ours1=() ours2=() cgal=() line=""
    for ((k = 0; k < tin_runs; k++)); do
        ours1+=("$(timed "$grid" "$file" --cell "$cell" --output-type tin --threads 1 -q -o "$out")")
        ours2+=("$(timed "$grid" "$file" --cell "$cell" --output-type tin --threads 2 -q -o "$out")")
        if [ -x "$peer" ]; then cgal+=("$("$peer" "$file" "$cell")"); fi
    done
    rm -f "$out"
    local w1 c1 w2 c2
    w1=$(printf '%s\n' "${ours1[@]}" | cut -d' ' -f1 | median); c1=$(printf '%s\n' "${ours1[@]}" | cut -d' ' -f2 | median)
    w2=$(printf '%s\n' "${ours2[@]}" | cut -d' ' -f1 | median); c2=$(printf '%s\n' "${ours2[@]}" | cut -d' ' -f2 | median)
    echo "== tin, $label at $cell (load $(cut -d' ' -f1-3 /proc/loadavg)):"
    echo "   ours, whole run, 1 thread:  ${w1} s wall, ${c1} s cpu"
    echo "   ours, whole run, 2 threads: ${w2} s wall, ${c2} s cpu"
    if [ ! -x "$peer" ]; then
        echo "   CGAL: not installed (libcgal-dev), no peer to compare with"
        return
    fi
    # The peer's line ends "both W s wall, C s cpu".
    local cw cc
    cw=$(printf '%s\n' "${cgal[@]}" | sed 's/.*both \([0-9.]*\) s wall, \([0-9.]*\) s cpu/\1/' | median)
    cc=$(printf '%s\n' "${cgal[@]}" | sed 's/.*both \([0-9.]*\) s wall, \([0-9.]*\) s cpu/\2/' | median)
    echo "   CGAL, triangulation and interpolation alone: ${cw} s wall, ${cc} s cpu (${cgal[0]%%:*})"
    awk -v w1="$w1" -v c1="$c1" -v w2="$w2" -v cw="$cw" -v cc="$cc" 'BEGIN {
        printf "   ratios to CGAL: 1 thread %.2f (wall), %.2f (cpu); 2 threads %.2f (wall)\n", w1 / cw, c1 / cc, w2 / cw }'
}
tin_row 5m_scan "$dir/5m_scan.xyz" 1
tin_row autzen_full "$shared/real/autzen_full.laz" 3
echo "== writers"
"$bench" "$dir/1m_scan.xyz" --writers
