#!/usr/bin/env bash
# make bench: generates the benchmark clouds outside the repository (once),
# then measures each against the from_chars parsing floor and a plain fscanf
# reader, and the two writers. BENCH_DIR picks where the clouds go (default
# /tmp/kestranov-bench; the 20M clouds take 560 MB each).
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
dir=${BENCH_DIR:-/tmp/kestranov-bench}
mkdir -p "$dir"
gen="$build/tools/make_cloud"
bench="$build/bench/kestranov_bench"

cloud() {  # name points order [--las]
    local ext=xyz
    [ "${4:-}" = --las ] && ext=las
    [ -f "$dir/$1.$ext" ] || "$gen" "$dir/$1.$ext" --points "$2" --size 1000 --order "$3" ${4:-} 2>/dev/null
}
cloud 1m_scan 1000000 scan
cloud 1m_random 1000000 random
cloud 20m_scan 20000000 scan
cloud 20m_random 20000000 random
# The same 5M points as text and as LAS (point format 1, 28-byte records).
cloud 5m_scan 5000000 scan
cloud 5m_scan 5000000 scan --las

echo "== $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//'), load $(cut -d' ' -f1-3 /proc/loadavg)"
for c in 1m_scan 1m_random 20m_scan 20m_random; do "$bench" "$dir/$c.xyz" --runs 3; done
"$bench" "$dir/5m_scan.xyz" --runs 5 --no-fscanf --las "$dir/5m_scan.las"
echo "== writers"
"$bench" "$dir/1m_scan.xyz" --writers
