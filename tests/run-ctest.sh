#!/usr/bin/env bash
# Runs ctest in a build folder, then says in one line how many tests were
# skipped and why, when any were: a skipped test passes in ctest's tally, and
# must not go unnoticed. With VELQUINT_LAB_REQUIRED=1 (make check, and so CI)
# a lab test that skipped fails the run, whatever way it skipped.
#
#   run-ctest.sh <build folder> [ctest option...]
set -uo pipefail

build="${1:?build folder}"
shift
# ctest reads a relative path from the build folder.
results="$(cd "$build" && pwd)/Testing/velquint-results.xml"
rm -f "$results"

ctest --test-dir "$build" --output-junit "$results" "$@"
status=$?
[ -f "$results" ] || exit "$status"

# One "name<TAB>reason" line for each test that did not run. The reason is
# what the test said: lab.sh's "SKIPPED: ..." line, or the line GoogleTest
# prints after "...: Skipped".
skipped="$(awk '
    function unescape(text) {
        gsub(/&lt;/, "<", text); gsub(/&gt;/, ">", text); gsub(/&quot;/, "\"", text)
        gsub(/&apos;/, "'\''", text); gsub(/&amp;/, "\\&", text)
        return text
    }
    /<testcase / {
        match($0, /name="[^"]*"/)
        name = substr($0, RSTART + 6, RLENGTH - 7)
        notrun = $0 ~ /status="notrun"/
        reason = ""
        after_skipped = 0
        next
    }
    notrun && after_skipped && reason == "" { reason = $0; after_skipped = 0 }
    notrun && /SKIPPED: / && reason == "" { reason = $0; sub(/.*SKIPPED: /, "", reason) }
    notrun && /: Skipped$/ { after_skipped = 1 }
    /<\/testcase>/ {
        if (notrun) {
            print unescape(name) "\t" (reason == "" ? "no reason given" : unescape(reason))
        }
        notrun = 0
    }' "$results")"
[ -n "$skipped" ] || exit "$status"

total="$(grep -o -m1 'tests="[0-9]*"' "$results" | tr -dc '0-9')"
count="$(printf '%s\n' "$skipped" | wc -l)"
by_reason="$(printf '%s\n' "$skipped" | awk -F'\t' '
    { if (!($2 in count)) order[++reasons] = $2
      if (++count[$2] <= 3) names[$2] = names[$2] (count[$2] > 1 ? ", " : "") $1 }
    END {
        for (i = 1; i <= reasons; i++) {
            r = order[i]
            more = count[r] > 3 ? " and " count[r] - 3 " more" : ""
            printf "%s%s%s: %s", (i > 1 ? "; " : ""), names[r], more, r
        }
    }')"
echo "$count of $total tests skipped. $by_reason"

if [ "${VELQUINT_LAB_REQUIRED:-0}" = 1 ]; then
    lab_tests="$(ctest --test-dir "$build" -N -L lab | sed -n 's/^ *Test *#[0-9]*: //p')"
    lab_skipped="$(printf '%s\n' "$skipped" | cut -f1 | grep -Fxf <(printf '%s\n' "$lab_tests"))"
    if [ -n "$lab_skipped" ]; then
        echo "FAILED: lab tests may not skip here (VELQUINT_LAB_REQUIRED=1):" $lab_skipped
        exit 1
    fi
fi
exit "$status"
