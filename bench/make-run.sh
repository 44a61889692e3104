#!/usr/bin/env bash
# The first `make run` after a fresh clone, as a newcomer meets it: from the
# command until the window is mapped, on a private Xvfb server, with the
# Debian packages already present. Each run clones this repository afresh;
# with --empty-cache ccache starts empty too, otherwise it keeps what earlier
# builds left.
# Usage: bench/make-run.sh [runs] [--empty-cache]
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-3}
empty_cache=${2:-}
source=$PWD

display=":$((90 + RANDOM % 100))"
Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
tmp=$(mktemp -d)
trap 'kill "$xvfb" 2>/dev/null; rm -rf "$tmp"' EXIT
for _ in $(seq 100); do
    xdpyinfo -display "$display" >/dev/null 2>&1 && break
    sleep 0.05
done

for run in $(seq "$runs"); do
    clone="$tmp/clone-$run"
    git clone -q "$source" "$clone"
    [ "$empty_cache" = --empty-cache ] && export CCACHE_DIR="$tmp/ccache-$run"
    start=$(date +%s%N)
    (cd "$clone" && DISPLAY=$display make run >"$tmp/log-$run" 2>&1) &
    maker=$!
    window=""
    until window=$(DISPLAY=$display xdotool search --onlyvisible --name '^Velquint Tool  V1.06$' 2>/dev/null); do
        kill -0 "$maker" 2>/dev/null || { cat "$tmp/log-$run" >&2; exit 1; }
        sleep 0.05
    done
    end=$(date +%s%N)
    echo "run $run: window mapped $(((end - start) / 1000000)) ms after make run"
    # The tool ends when its process is told to; destroying its window
    # behind Qt's back would leave it running.
    kill "$(DISPLAY=$display xdotool getwindowpid "$window")"
    wait "$maker" || true
    rm -rf "$clone"
done
