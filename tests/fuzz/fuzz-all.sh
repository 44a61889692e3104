#!/usr/bin/env bash
# Runs every fuzz target of a sanitizer build in turn, each for SECONDS, and
# prints how many inputs each ran.
#
#   fuzz-all.sh BUILD_DIR SECONDS
set -euo pipefail

if [ $# -ne 2 ]; then
    sed -n '2,5p' "$0" | sed 's/^# \{0,1\}//' >&2
    exit 2
fi
build="$1" seconds="$2"
here="$(cd "$(dirname "$0")" && pwd)"
targets="$build/tests/fuzz/targets.txt"
if [ ! -f "$targets" ]; then
    echo "fuzz-all.sh: $targets is missing: configure $build with -DVELQUINT_FUZZ=ON" >&2
    exit 2
fi

failed=0
while IFS=: read -r name max_len; do
    [ -n "$name" ] || continue
    "$here/run-fuzz.sh" "$build/tests/fuzz/fuzz_$name" "$here/corpus/$name" "$seconds" \
        "$max_len" "$build/tests/fuzz/findings/$name" || failed=1
done <"$targets"
exit "$failed"
