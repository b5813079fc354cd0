#!/usr/bin/env bash
# Runs libFuzzer targets one after the other, each for a fixed time, from the
# seeds in fuzz/corpus/<target>/.
#   fuzz/run.sh BUILD_DIR SECONDS TIMEOUT TARGET...
# New inputs go to BUILD_DIR/fuzz-corpus/<target>/ (the seeds are never
# touched); a crashing input lands in BUILD_DIR/fuzz-artifacts/<target>/ and
# makes the script fail. The runs' scratch drives live in a temporary folder
# that is removed at the end.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="$1" seconds="$2" timeout="$3"
shift 3

scratch="$(mktemp -d "${TMPDIR:-/tmp}/kestranov-fuzz-run.XXXXXX")"
trap 'rm -rf "$scratch"' EXIT

status=0
for target in "$@"; do
    exe="$build/fuzz/$target"
    corpus="$build/fuzz-corpus/$target"
    artifacts="$build/fuzz-artifacts/$target"
    mkdir -p "$corpus" "$artifacts"
    log="$build/fuzz-$target.log"
    echo "fuzz: $target for ${seconds} s"
    # -rss_limit_mb: a run never needs much; a leak or runaway allocation shows.
    if ! TMPDIR="$scratch" "$exe" "$corpus" "$here/corpus/$target" \
            -max_total_time="$seconds" -timeout="$timeout" -rss_limit_mb=2048 \
            -artifact_prefix="$artifacts/" -print_final_stats=1 >"$log" 2>&1; then
        status=1
        echo "fuzz: $target FAILED; see $log and $artifacts/" >&2
        grep -E "ERROR|invariant broken|SUMMARY|Test unit written" "$log" >&2 || true
    fi
    grep -E "^stat::number_of_executed_units|^stat::average_exec_per_sec|^stat::peak_rss_mb" "$log" |
        sed "s/^/fuzz: $target /" || true
    rm -rf "${scratch:?}"/*
done
exit $status
