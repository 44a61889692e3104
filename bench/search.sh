#!/usr/bin/env bash
# Search figures for docs/benchmarks.md: the real window (offscreen) presses
# "Search" 20 times in a lab of network namespaces while velquint-sim plays
#   - 255 devices answering in one burst with 31-byte replies, and
#   - 32 devices answering in one burst with 256-byte replies,
# and reports per run how many were listed and the time beyond the waits.
# Needs root (the lab).
# Usage: bench/search.sh [build-dir] [runs]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
runs=${2:-20}
bench="$build/bench/velquint_bench_search_list"
sim="$build/sim/velquint-sim"
if [ ! -x "$bench" ] || [ ! -x "$sim" ]; then
    echo "build first: make build-bench" >&2
    exit 1
fi
if [ "$(id -u)" -ne 0 ]; then
    echo "bench/search.sh runs in a lab of network namespaces and needs root" >&2
    exit 1
fi
for load in "255 31" "32 256"; do
    # shellcheck disable=SC2086
    VELQUINT_SIM="$PWD/$sim" QT_QPA_PLATFORM=offscreen \
        tests/lab/lab.sh -- "$PWD/$bench" $load "$runs"
    echo
done
