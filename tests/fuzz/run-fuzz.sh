#!/usr/bin/env bash
# Runs one fuzz target from its committed seed corpus for a given time, or
# until it has run a given number of inputs, whichever comes first.
#
#   run-fuzz.sh BINARY SEED_DIR SECONDS MAX_LEN FINDINGS_DIR [INPUTS]
#
# New inputs go to a scratch directory, never into the committed seeds; set
# FUZZ_KEEP_CORPUS to a directory to keep them there instead (for
# minimising them into the seeds with -merge=1). A crash, a leak, a time-out
# or a failed invariant leaves its input in FINDINGS_DIR and fails the run.
# The last line printed says how many inputs ran, in how long, how many a
# second and the peak memory.
set -euo pipefail

if [ $# -ne 5 ] && [ $# -ne 6 ]; then
    sed -n '2,13p' "$0" | sed 's/^# \{0,1\}//' >&2
    exit 2
fi
binary="$1" seeds="$2" seconds="$3" max_len="$4" findings="$5" inputs="${6:--1}"
name="$(basename "$binary")"

mkdir -p "$findings"
scratch="${FUZZ_KEEP_CORPUS:-}"
if [ -z "$scratch" ]; then
    scratch="$(mktemp -d "${TMPDIR:-/tmp}/velquint-fuzz-XXXXXX")"
    trap 'rm -rf "$scratch"' EXIT
fi
mkdir -p "$scratch"
log="$findings/last-run.log"

# With detect_stack_use_after_return the sanitizer keeps frames on a fake
# stack, and each exception thrown has it sweep that stack whole at the next
# call: at the default size (1 MB for each frame size) the sweeps took a third
# of command_line's time, as CLI11 throws on most inputs. 64 KB a size still
# holds a thousand small frames, deeper than any target calls; a frame beyond
# it would live on the real stack, unchecked for use after return.
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}max_uar_stack_size_log=16"

status=0
# One input may take 10 s at most (a hang is a finding), and the
# whole process no more than 2 GB.
"$binary" -max_total_time="$seconds" -runs="$inputs" -max_len="$max_len" -timeout=10 \
    -rss_limit_mb=2048 -use_value_profile=1 -print_final_stats=1 -artifact_prefix="$findings/" \
    "$scratch" "$seeds" >"$log" 2>&1 || status=$?

final() { sed -n "s/^stat::$1: *//p" "$log" | tail -n 1; }
runs="$(final number_of_executed_units)"
if [ "$status" -ne 0 ]; then
    tail -n 60 "$log"
    echo "$name: FAILED after ${runs:-?} inputs (exit $status); the input is in $findings/"
    exit 1
fi
elapsed="$(sed -n 's/^Done [0-9]* runs in \([0-9]*\) second.*/\1/p' "$log" | tail -n 1)"
echo "$name: ${runs:-?} inputs in ${elapsed:-?} s ($(final average_exec_per_sec) a second," \
    "peak $(final peak_rss_mb) MB), no finding"
