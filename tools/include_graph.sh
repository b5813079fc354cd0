#!/usr/bin/env bash
# The folders of src/ and of the companions, and which folders each includes
# from, lowest first. Fails when a file of src/ includes a header from a
# folder above its own or from a companion, when a companion includes from a
# companion it may not, or when a header is included without its folder.
#   tools/include_graph.sh
set -euo pipefail
cd "$(dirname "$0")/.."
layers=(LIB core platform points grid tin output run)
rank() { local k; for k in "${!layers[@]}"; do [ "${layers[$k]}" = "$1" ] && { echo "$k"; return; }; done; echo 99; }
# The companions take any layer of src/ (core/x.h, from src/) and the
# companions named here (models/x.h, from the repository's root).
companions=(models export preview gridder)
declare -A may_include=(
    [models]="models"
    [export]="export models"
    [preview]="preview models export"
    [gridder]="gridder models export"
)
status=0
folders_of() { grep -o '#include "[A-Za-z]*/' "$@" 2>/dev/null | sed 's/.*#include "//; s/\///' | sort -u || true; }
# Every quoted include names its folder: "core/fatal.h", never "fatal.h".
check_qualified() {
    local f
    for f in "$@"; do
        if grep -q '#include "[^/"]*"' "$f"; then
            echo "include_graph: $f includes $(grep -o '#include "[^/"]*"' "$f" | head -1 | sed 's/#include //') without its folder" >&2
            status=1
        fi
    done
}
for layer in "${layers[@]}"; do
    dir=src/$layer; [ "$layer" = LIB ] && dir=LIB
    used=$(folders_of -h "$dir"/* | grep -vx "$layer" | tr '\n' ' ' || true)
    echo "$layer -> ${used:-(standard library only)}"
    for f in "$dir"/*; do
        for used_layer in $(folders_of "$f"); do
            if [ "$(rank "$used_layer")" -gt "$(rank "$layer")" ]; then
                echo "include_graph: $f includes from $used_layer/, a folder above its own" >&2
                status=1
            fi
        done
    done
    check_qualified "$dir"/*
done
for companion in "${companions[@]}"; do
    files=("$companion"/*.cpp "$companion"/*.h)
    used=$(folders_of -h "${files[@]}" | grep -vx "$companion" | tr '\n' ' ' || true)
    echo "$companion -> ${used:-(standard library only)}"
    for f in "${files[@]}"; do
        for used_folder in $(folders_of "$f"); do
            [ "$(rank "$used_folder")" -lt 99 ] && [ "$used_folder" != LIB ] && continue
            if [[ " ${may_include[$companion]} " != *" $used_folder "* ]]; then
                echo "include_graph: $f includes from $used_folder/, which $companion/ may not use" >&2
                status=1
            fi
        done
    done
    check_qualified "${files[@]}"
done
exit $status
