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
for c in 1m_scan 1m_random 20m_scan 20m_random 20m_shapes; do "$bench" "$dir/$c.xyz" --runs 3; done
# The same 5M points as LAZ (format 1 and the layered format 6), where the samples are.
laz=()
for f in cloud5m_f1 cloud5m_f6; do
    [ -f "$shared/laz/$f.laz" ] && laz+=(--laz "$shared/laz/$f.laz")
done
"$bench" "$dir/5m_scan.xyz" --runs 5 --no-fscanf --las "$dir/5m_scan.las" ${laz[@]+"${laz[@]}"}
echo "== writers"
"$bench" "$dir/1m_scan.xyz" --writers
