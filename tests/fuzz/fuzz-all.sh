#!/usr/bin/env bash
# Runs every fuzz target of a sanitizer build in turn, each for SECONDS or
# until it has run INPUTS (whichever comes first), and prints how many
# inputs each ran.
#
#   fuzz-all.sh BUILD_DIR SECONDS [INPUTS]
set -euo pipefail

if [ $# -ne 2 ] && [ $# -ne 3 ]; then
    sed -n '2,6p' "$0" | sed 's/^# \{0,1\}//' >&2
    exit 2
fi
build="$1" seconds="$2" inputs="${3:--1}"
here="$(cd "$(dirname "$0")" && pwd)"
# Every target that CMake registered (velquint_add_fuzz), in its order.
targets="$build/tests/fuzz/targets.txt"
if [ ! -f "$targets" ]; then
    echo "fuzz-all.sh: $targets is missing: configure $build with -DVELQUINT_FUZZ=ON" >&2
    exit 2
fi

failed=0
while IFS=: read -r name max_len; do
    [ -n "$name" ] || continue
    "$here/run-fuzz.sh" "$build/tests/fuzz/fuzz_$name" "$here/corpus/$name" "$seconds" \
        "$max_len" "$build/tests/fuzz/findings/$name" "$inputs" || failed=1
done <"$targets"
exit "$failed"
