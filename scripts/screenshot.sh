#!/usr/bin/env bash
# Takes docs/screenshot.png: the real tool's window on a private X server
# (Xvfb), as it opens. There is no window manager there, so the picture shows
# the window's contents without a title bar.
# Usage: scripts/screenshot.sh [build-dir]
set -euo pipefail

# Runs inside the X server that xvfb-run started (see the end).
capture() {
    local tool=$1 out=$2 caption="Velquint Tool  V1.06" id
    # Global: the EXIT trap needs them after the function has returned.
    work="" pid=""
    work=$(mktemp -d)
    QT_QPA_PLATFORM=xcb "$tool" >/dev/null 2>&1 &
    pid=$!
    trap 'kill "$pid" 2>/dev/null || true; rm -rf "$work"' EXIT
    # Wait until the window is on the screen...
    for _ in $(seq 100); do
        if xwininfo -name "$caption" 2>/dev/null | grep -q IsViewable; then
            id=$(xwininfo -name "$caption" | awk '/Window id:/ { print $4 }')
            break
        fi
        sleep 0.1
    done
    [ -n "${id:-}" ] || { echo "the window did not appear" >&2; exit 1; }
    # ...and until two captures in a row agree, so it has finished painting.
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
    exit 1
}
if [ "${1:-}" = "--inside-xvfb" ]; then
    capture "$2" "$3"
    exit 0
fi

cd "$(dirname "$0")/.."
build=${1:-build}
tool="$build/app/velquint-tool"
if [ ! -x "$tool" ]; then
    echo "build first: make build" >&2
    exit 1
fi
mkdir -p docs
xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" \
    "$PWD/scripts/screenshot.sh" --inside-xvfb "$tool" docs/screenshot.png
echo "docs/screenshot.png"
