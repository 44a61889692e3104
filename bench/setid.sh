#!/usr/bin/env bash
# Set ID figures for docs/benchmarks.md: the time from a click on "Set ID"
# until the status label shows the outcome, beyond the simulated device's own
# reply delay, and the CPU use and wake-ups while a Set ID waits 3 s for a
# device that never answers. Real window, offscreen, against velquint-sim on
# loopback (no lab, no root needed).
# Usage: bench/setid.sh [build-dir] [clicks per device delay]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
clicks=${2:-200}
bench="$build/bench/velquint_bench_setid"
sim="$build/sim/velquint-sim"
if [ ! -x "$bench" ] || [ ! -x "$sim" ]; then
    echo "build first: make build-bench" >&2
    exit 1
fi
VELQUINT_SIM="$(realpath "$sim")" QT_QPA_PLATFORM=offscreen "$bench" "$clicks"
