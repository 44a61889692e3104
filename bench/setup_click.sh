#!/usr/bin/env bash
# Setup figure for docs/benchmarks.md: the time from a click on "Broadcast
# Setup" or "Connect Setup" until "Success", beyond the simulated device's own
# reply delay, on the real window inside a lab of network namespaces (needs
# root).
# Usage: bench/setup_click.sh [build-dir] [clicks per button] [device delay ms]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
clicks=${2:-200}
delay=${3:-50}
bench="$build/bench/velquint_bench_setup_click"
sim="$build/sim/velquint-sim"
if [ ! -x "$bench" ] || [ ! -x "$sim" ]; then
    echo "build first: make build-bench" >&2
    exit 1
fi
status=0
VELQUINT_SIM="$(realpath "$sim")" QT_QPA_PLATFORM=offscreen \
    ./tests/lab/lab.sh --devices 1 -- "$(realpath "$bench")" "$clicks" "$delay" || status=$?
# lab.sh has said why it could not build the lab.
if [ "$status" -eq 77 ]; then
    exit 0
fi
exit "$status"
