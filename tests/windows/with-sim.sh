#!/usr/bin/env bash
# Runs a Windows test program under wine against the Linux velquint-sim: one
# simulator per case, each with one device on loopback TCP (--loopback, so no
# UDP side and no lab needed) and on a pseudo-terminal (--pty) that the wine
# prefix of the run sees as a COM port ($WINEPREFIX/dosdevices/comN). The
# program learns them from VELQUINT_SIM_<case> ("<tcp-port> COMn").
#
#   with-sim.sh SIM COMMAND [ARG...]
#
# SIM is the Linux build's velquint-sim. WINEPREFIX must name the run's
# prefix, whose wineserver is running (tests/windows/wine-tests.sh).
set -euo pipefail

readonly READY_TRIES=150  # of 0.1 s: a healthy simulator is ready in milliseconds
readonly FIRST_COM=5

sim="${1:?usage: with-sim.sh SIM COMMAND [ARG...]}"
shift
: "${WINEPREFIX:?with-sim.sh needs the WINEPREFIX of the run}"
if [ ! -x "$sim" ]; then
    echo "with-sim.sh: no velquint-sim at '$sim' (configure with VELQUINT_LINUX_SIM)" >&2
    exit 1
fi

long_reply="$(printf 'A5%.0s' $(seq 300))"
# The names sim_channel_test.cpp looks for, with the device each one plays.
cases=(
    "answers port=0"
    "silent port=0,tcp-reply=none"
    "noise port=0,tcp-noise=600"
    "trickle port=0,tcp-reply=trickle,tcp-trickle=20"
    "long port=0,tcp-data=$long_reply"
    "closes port=0,tcp-reply=close"
)

work="$(mktemp -d /tmp/velquint-with-sim-XXXXXX)"
pids=()
links=()
cleanup() {
    local pid link
    for pid in "${pids[@]}"; do
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    for link in "${links[@]}"; do
        rm -f "$link"
    done
    rm -rf "$work"
}
trap cleanup EXIT

com="$FIRST_COM"
for entry in "${cases[@]}"; do
    name="${entry%% *}"
    settings="${entry#* }"
    out="$work/$name.out"
    "$sim" --loopback --pty --device "$settings" >"$out" 2>&1 &
    pids+=($!)
    for _ in $(seq "$READY_TRIES"); do
        grep -qx ready "$out" && break
        kill -0 "${pids[-1]}" 2>/dev/null || break
        sleep 0.1
    done
    if ! grep -qx ready "$out"; then
        echo "with-sim.sh: velquint-sim for '$name' did not get ready:" >&2
        cat "$out" >&2
        exit 1
    fi
    port="$(sed -n 's/^listening .*:\([0-9]*\)$/\1/p' "$out" | head -n 1)"
    pty="$(sed -n 's/^pty //p' "$out" | head -n 1)"
    link="$WINEPREFIX/dosdevices/com$com"
    ln -sfn "$pty" "$link"
    links+=("$link")
    export "VELQUINT_SIM_$name=$port COM$com"
    com=$((com + 1))
done

"$@"
