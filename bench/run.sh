#!/usr/bin/env bash
# make bench: generates the benchmark clouds outside the repository (once),
# then measures each. BENCH_DIR picks where the clouds go (default
# /tmp/kestranov-bench; 20M points take about 560 MB each).
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
dir=${BENCH_DIR:-/tmp/kestranov-bench}
mkdir -p "$dir"
gen="$build/tools/make_cloud"
bench="$build/bench/kestranov_bench"

cloud() {  # name points order
    [ -f "$dir/$1.xyz" ] || "$gen" "$dir/$1.xyz" --points "$2" --size 1000 --order "$3" >/dev/null
}
cloud 1m_scan 1000000 scan
cloud 1m_random 1000000 random
cloud 20m_scan 20000000 scan
cloud 20m_random 20000000 random

echo "== machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//')"
for c in 1m_scan 1m_random; do "$bench" "$dir/$c.xyz" --runs 3; done
for c in 20m_scan 20m_random; do "$bench" "$dir/$c.xyz" --runs 3 ${BENCH_FSCANF:+}; done
echo "== writers"
"$bench" "$dir/1m_scan.xyz" --writers
