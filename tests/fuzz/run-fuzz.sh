#!/usr/bin/env bash
# Runs one fuzz target for a given time from its committed seed corpus.
#
#   run-fuzz.sh BINARY SEED_DIR SECONDS MAX_LEN FINDINGS_DIR
#
# New inputs go to a scratch directory, never into the committed seeds; set
# FUZZ_KEEP_CORPUS to a directory to keep them there instead (for
# minimising them into the seeds with -merge=1). A crash, a leak, a time-out
# or a failed invariant leaves its input in FINDINGS_DIR and fails the run.
# The last line printed says how many inputs ran.
set -euo pipefail

if [ $# -ne 5 ]; then
    sed -n '2,11p' "$0" | sed 's/^# \{0,1\}//' >&2
    exit 2
fi
binary="$1" seeds="$2" seconds="$3" max_len="$4" findings="$5"
name="$(basename "$binary")"

mkdir -p "$findings"
scratch="${FUZZ_KEEP_CORPUS:-}"
if [ -z "$scratch" ]; then
    scratch="$(mktemp -d "${TMPDIR:-/tmp}/velquint-fuzz-XXXXXX")"
    trap 'rm -rf "$scratch"' EXIT
fi
mkdir -p "$scratch"
log="$findings/last-run.log"

status=0
# One input may take 10 s at most (a hang is a finding), and the
# whole process no more than 2 GB.
"$binary" -max_total_time="$seconds" -max_len="$max_len" -timeout=10 -rss_limit_mb=2048 \
    -use_value_profile=1 -print_final_stats=1 -artifact_prefix="$findings/" \
    "$scratch" "$seeds" >"$log" 2>&1 || status=$?

runs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)"
if [ "$status" -ne 0 ]; then
    tail -n 60 "$log"
    echo "$name: FAILED after ${runs:-?} inputs (exit $status); the input is in $findings/"
    exit 1
fi
echo "$name: ${runs:-?} inputs in $seconds s, no finding"
