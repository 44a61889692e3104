#!/usr/bin/env bash
# Runs every fuzz target of a sanitizer build, each for SECONDS or until it
# has run INPUTS (whichever comes first), JOBS of them at once (default one
# for each core: each target runs on one core), and prints how many inputs
# each ran, as each ends.
#
#   fuzz-all.sh BUILD_DIR SECONDS [INPUTS [JOBS]]
set -euo pipefail

if [ $# -lt 2 ] || [ $# -gt 4 ]; then
    sed -n '2,7p' "$0" | sed 's/^# \{0,1\}//' >&2
    exit 2
fi
build="$1" seconds="$2" inputs="${3:--1}" jobs="${4:-$(nproc)}"
here="$(cd "$(dirname "$0")" && pwd)"
# Every target that CMake registered (velquint_add_fuzz), in its order.
targets="$build/tests/fuzz/targets.txt"
if [ ! -f "$targets" ]; then
    echo "fuzz-all.sh: $targets is missing: configure $build with -DVELQUINT_FUZZ=ON" >&2
    exit 2
fi

# What each run prints is kept until it ends, so that runs at once do not
# mix their lines.
logs="$(mktemp -d "${TMPDIR:-/tmp}/velquint-fuzz-all-XXXXXX")"
trap 'kill $(jobs -p) 2>/dev/null || true; wait; rm -rf "$logs"' EXIT

failed=0
declare -A target_of=()  # of each run under way, by its process id
# Waits for any one run, prints what it printed, and counts a failure.
reap() {
    local pid status=0
    wait -n -p pid || status=$?
    cat "$logs/${target_of[$pid]}"
    [ "$status" -eq 0 ] || failed=1
    unset "target_of[$pid]"
}

while IFS=: read -r name max_len; do
    [ -n "$name" ] || continue
    [ "${#target_of[@]}" -lt "$jobs" ] || reap
    "$here/run-fuzz.sh" "$build/tests/fuzz/fuzz_$name" "$here/corpus/$name" "$seconds" \
        "$max_len" "$build/tests/fuzz/findings/$name" "$inputs" >"$logs/$name" 2>&1 &
    target_of[$!]="$name"
done <"$targets"
while [ "${#target_of[@]}" -gt 0 ]; do
    reap
done
exit "$failed"
