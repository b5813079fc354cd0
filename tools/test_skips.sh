#!/usr/bin/env bash
# After ctest's own summary, which names the skipped tests but not why: how
# many skipped, then one line each with the reason the test gave (a missing
# sample, a tool not installed), read from ctest's log of the last run.
#   tools/test_skips.sh BUILD_FOLDER
# Says nothing and succeeds when there is no log: the status is ctest's.
set -uo pipefail
log="${1:?usage: tools/test_skips.sh BUILD_FOLDER}/Testing/Temporary/LastTest.log"
[ -r "$log" ] || exit 0
# A test's block opens with "n/N Testing: NAME" and closes with
# '"NAME" end time:'; GoogleTest writes "FILE:LINE: Skipped", the message,
# then "[  SKIPPED ]", and ctest notes that its skip pattern matched.
awk '
    /^[0-9]+\/[0-9]+ Testing: / { name = $0; sub(/^[^:]*: /, "", name); why = ""; reading = 0; skipped = 0; ++tests; next }
    /^\[  SKIPPED \]/ { reading = 0 }
    reading && NF { why = why (why == "" ? "" : " ") $0 }
    /: Skipped$/ { reading = 1 }
    /^Skip regular expression found in output/ { skipped = 1 }
    /^"[^"]*" end time:/ && skipped { ++count; lines[count] = "skipped: " name ": " (why == "" ? "(no reason given)" : why); skipped = 0 }
    END {
        if (count == 0) { printf "none of the %d tests skipped\n", tests; exit }
        printf "%d of the %d tests skipped:\n", count, tests
        fflush()
        for (k = 1; k <= count; ++k) print lines[k] | "sort"
    }
' "$log"
