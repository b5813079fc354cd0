#!/usr/bin/env bash
# The folders of src/ and which folders each includes from, lowest first;
# fails when a file includes a header from a folder above its own.
#   tools/include_graph.sh
set -euo pipefail
cd "$(dirname "$0")/.."
layers=(LIB core platform points grid output run)
rank() { local k; for k in "${!layers[@]}"; do [ "${layers[$k]}" = "$1" ] && { echo "$k"; return; }; done; echo 99; }
status=0
for layer in "${layers[@]}"; do
    dir=src/$layer; [ "$layer" = LIB ] && dir=LIB
    used=$(grep -ho '#include "[A-Za-z]*/' "$dir"/* 2>/dev/null | sed 's/#include "//; s/\///' | sort -u | grep -vx "$layer" | tr '\n' ' ' || true)
    echo "$layer -> ${used:-(standard library only)}"
    for f in "$dir"/*; do
        for used_layer in $(grep -o '#include "[A-Za-z]*/' "$f" | sed 's/#include "//; s/\///' | sort -u); do
            if [ "$(rank "$used_layer")" -gt "$(rank "$layer")" ]; then
                echo "include_graph: $f includes from $used_layer/, a folder above its own" >&2
                status=1
            fi
        done
    done
done
exit $status
