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

cloud() {  # name points order
    [ -f "$dir/$1.xyz" ] || "$gen" "$dir/$1.xyz" --points "$2" --size 1000 --order "$3" 2>/dev/null
}
cloud 1m_scan 1000000 scan
cloud 1m_random 1000000 random
cloud 20m_scan 20000000 scan
cloud 20m_random 20000000 random

echo "== $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//'), load $(cut -d' ' -f1-3 /proc/loadavg)"
for c in 1m_scan 1m_random 20m_scan 20m_random; do "$bench" "$dir/$c.xyz" --runs 3; done
echo "== writers"
"$bench" "$dir/1m_scan.xyz" --writers
