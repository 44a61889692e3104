#!/usr/bin/env bash
# make demo: the tool against simulated devices, no hardware needed.
#
# Builds, makes a lab of network namespaces (tests/lab/lab.sh), starts
# velquint-sim there with the devices of scripts/demo-devices.txt, and starts
# velquint-tool in the lab's tool namespace on the current X display. Search,
# sort, Broadcast Setup and Connect Setup all work against the simulated
# devices; no datagram leaves the lab. Closing the window ends the simulator
# and removes the lab.
#
# Needs: root (the lab creates network namespaces) and a local X display in
# DISPLAY (":0"). The tool reaches the X server through its socket in
# /tmp/.X11-unix, which network namespaces do not separate; a display over
# TCP (ssh -X, "localhost:10.0") is out of reach from inside the lab. Under
# sudo, keep the display: sudo --preserve-env=DISPLAY,XAUTHORITY make demo
#
# Usage: scripts/demo.sh [build-dir]
set -euo pipefail
cd "$(dirname "$0")/.."

inside_lab() {
    local build=$1 sim tool
    sim="$build/sim/velquint-sim"
    tool="$build/app/velquint-tool"
    # shellcheck source=scripts/lab-sim.sh
    . scripts/lab-sim.sh
    trap stop_lab_sim EXIT
    require_lab_namespace
    start_lab_sim "$sim" --devices-file scripts/demo-devices.txt
    cat <<TEXT
velquint-sim plays these devices in the lab:
$(grep -v '^#' scripts/demo-devices.txt | sed 's/^/  /')
Press "Search" in the window. Close the window to end the demo.
TEXT
    # The window belongs on the desktop user's display: run it as that user
    # when started through sudo (and the build is within that user's reach).
    if [ -n "${SUDO_USER:-}" ] && [ "$SUDO_USER" != root ] &&
        runuser -u "$SUDO_USER" -- test -x "$tool"; then
        runuser -u "$SUDO_USER" -- "$tool"
    else
        "$tool"
    fi
}

if [ "${1:-}" = "--inside-lab" ]; then
    inside_lab "$2"
    exit 0
fi

build=${1:-build}
case "$build" in /*) ;; *) build="$PWD/$build" ;; esac

if [ "$(id -u)" -ne 0 ]; then
    echo "make demo needs root: the lab of network namespaces that keeps the simulated" >&2
    echo "devices off your network is made with 'ip netns' (try: sudo --preserve-env=DISPLAY,XAUTHORITY make demo)" >&2
    exit 1
fi
display=${DISPLAY:-}
if [ -z "$display" ]; then
    echo "make demo needs an X display, and DISPLAY is not set" >&2
    exit 1
fi
# ":0", ":0.0" and "unix:0" name the socket /tmp/.X11-unix/X0; anything with a
# host in front is reached over TCP, which the lab cannot.
number=${display#unix}
number=${number#:}
number=${number%%.*}
if [[ "$display" != :* && "$display" != unix:* ]] || [ ! -S "/tmp/.X11-unix/X$number" ]; then
    echo "make demo needs a local X display (DISPLAY=:N with /tmp/.X11-unix/XN);" >&2
    echo "DISPLAY=$display cannot be reached from inside the lab" >&2
    exit 1
fi

make --no-print-directory build-demo BUILD_DIR="$build"
exec tests/lab/lab.sh --devices 1 -- "$PWD/scripts/demo.sh" --inside-lab "$build"
