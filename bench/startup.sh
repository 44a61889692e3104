#!/usr/bin/env bash
# Start-up figures for docs/benchmarks.md: time until the window is shown and
# peak memory of velquint-tool, median of several runs on a private Xvfb
# server.
# Usage: bench/startup.sh [build-dir] [runs]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
runs=${2:-15}
probe="$build/bench/velquint_startup_probe"
tool="$build/app/velquint-tool"
if [ ! -x "$probe" ] || [ ! -x "$tool" ]; then
    echo "build first: make build-bench" >&2
    exit 1
fi
"$probe" "$tool" "$runs"
