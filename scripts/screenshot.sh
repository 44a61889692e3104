#!/usr/bin/env bash
# Takes docs/screenshot.png: the real tool's window on a private X server
# (Xvfb) after a search that found the simulated devices of
# scripts/demo-devices.txt, with one of them selected. The search runs in a
# lab of network namespaces against velquint-sim, so this needs root. There is
# no window manager on that server, so the picture shows the window's contents
# without a title bar.
# Usage: scripts/screenshot.sh [build-dir]
set -euo pipefail

readonly CAPTION="Velquint Tool  V1.06"
# Inside the window: the middle of the "Search" button, and of the third list
# row (the header and the rows are drawn at fixed pixel font sizes).
readonly SEARCH_AT="300 432"
readonly THIRD_ROW_AT="200 60"

# Prints the id of the first viewable window titled exactly $1, waiting up to
# 10 s for it.
wait_for_window() {
    local id
    for _ in $(seq 100); do
        for id in $(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null); do
            echo "$id"
            return 0
        done
        sleep 0.1
    done
    echo "no window \"$1\" appeared" >&2
    return 1
}

# Waits until two captures of window $1 in a row agree, then keeps it as $2.
capture_settled() {
    local id=$1 out=$2
    import -window "$id" "$work/previous.png"
    for _ in $(seq 50); do
        sleep 0.1
        import -window "$id" "$work/current.png"
        if [ "$(compare -metric AE "$work/previous.png" "$work/current.png" null: 2>&1)" = "0" ]; then
            cp "$work/current.png" "$out"
            return 0
        fi
        mv "$work/current.png" "$work/previous.png"
    done
    echo "the window did not settle" >&2
    return 1
}

# Runs in the lab's tool namespace, on the X server that xvfb-run started.
capture() {
    local build=$1 out=$2 id box
    # Global: the EXIT trap needs them after the function has returned.
    work="" tool_pid=""
    work=$(mktemp -d)
    # shellcheck source=scripts/lab-sim.sh
    . scripts/lab-sim.sh
    trap 'kill "$tool_pid" 2>/dev/null || true; stop_lab_sim; rm -rf "$work"' EXIT
    require_lab_namespace
    start_lab_sim "$build/sim/velquint-sim" --devices-file scripts/demo-devices.txt
    QT_QPA_PLATFORM=xcb "$build/app/velquint-tool" >/dev/null 2>&1 &
    tool_pid=$!
    id=$(wait_for_window "$CAPTION")

    # shellcheck disable=SC2086
    xdotool mousemove --window "$id" $SEARCH_AT click 1
    # One of the devices has a MAC ending in FF.FF.FF: the "Error" box names
    # it once the list is there. OK closes it.
    box=$(wait_for_window Error)
    xdotool windowfocus --sync "$box" key Return
    # shellcheck disable=SC2086
    xdotool mousemove --window "$id" $THIRD_ROW_AT click 1
    capture_settled "$id" "$out"
}

cd "$(dirname "$0")/.."
case "${1:-}" in
    --inside-xvfb)
        exec tests/lab/lab.sh --devices 1 -- "$0" --inside-lab "$2" "$3"
        ;;
    --inside-lab)
        capture "$2" "$3"
        exit 0
        ;;
esac

build=${1:-build}
case "$build" in /*) ;; *) build="$PWD/$build" ;; esac
if [ ! -x "$build/app/velquint-tool" ] || [ ! -x "$build/sim/velquint-sim" ]; then
    echo "build first: make build" >&2
    exit 1
fi
if [ "$(id -u)" -ne 0 ]; then
    echo "the screenshot searches in a lab of network namespaces and needs root" >&2
    exit 1
fi
mkdir -p docs
xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" \
    "$PWD/scripts/screenshot.sh" --inside-xvfb "$build" "$PWD/docs/screenshot.png"
echo "docs/screenshot.png"
