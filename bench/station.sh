#!/usr/bin/env bash
# Commissioning-station and watch figures for docs/benchmarks.md, in a lab of
# network namespaces (needs root), against velquint-sim:
#   - `velquint apply --watch` with DEVICES devices (default 50) plugged in one
#     every 2 s, each restarting 5 s after its setup, a plan of rows without a
#     MAC: each device's time from being plugged in to verified (from the
#     simulator's schedule to the tool's "verified" event), median and worst;
#   - `velquint watch` for 60 s beside 255 quiet devices: CPU time of the
#     process, and requests and datagrams a second on the segment;
#   - a search of another program (`velquint search --passes 1`) every 1.3 s
#     beside the watch, for 60 s: how often it finds port 3195 taken, and how
#     often the watch does.
# Usage: bench/station.sh [build-dir] [devices]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
devices=${2:-50}
velquint="$PWD/$build/cli/velquint"
sim="$PWD/$build/sim/velquint-sim"
if [ ! -x "$velquint" ] || [ ! -x "$sim" ]; then
    echo "build first: make build-bench" >&2
    exit 1
fi

# Runs inside the lab's tool namespace.
inside() {
    set -euo pipefail
    source scripts/lab-sim.sh
    require_lab_namespace
    trap stop_lab_sim EXIT
    local tmp k
    tmp=$(mktemp -d)
    local settings="mask=255.255.0.0,gateway=10.231.0.1,port=4001,baud=3"

    # --- the station ------------------------------------------------------
    local args=()
    for k in $(seq "$devices"); do
        args+=(--device "mac=02.56.51.00.01.$(printf '%02X' "$k"),ip=10.231.101.$k,$settings,appear=$((2000 * k)),restart=5000")
    done
    {
        echo "mac,ip,id"
        for k in $(seq "$devices"); do echo ",10.231.101.$((100 + k)),$k"; done
    } >"$tmp/plan.csv"
    local started
    started=$(date +%s%3N)
    start_lab_sim "$sim" "${args[@]}"
    "$velquint" apply "$tmp/plan.csv" --watch --json --timeout $((2 * devices + 30)) \
        >"$tmp/events" 2>/dev/null || true
    stop_lab_sim
    # Each device's plugging-in is on the simulator's schedule, counted from
    # before it started (which makes the figures a little longer, never
    # shorter); its "verified" event carries the time it was verified.
    local line mac time k_of took
    : >"$tmp/took"
    grep '"event":"verified"' "$tmp/events" | while read -r line; do
        mac=$(sed 's/.*"mac":"\([^"]*\)".*/\1/' <<<"$line")
        time=$(sed 's/.*"time":"\([^"]*\)".*/\1/' <<<"$line")
        k_of=$((16#${mac##*.}))
        echo $(($(date -d "$time" +%s%3N) - started - 2000 * k_of)) >>"$tmp/took"
    done
    sort -n "$tmp/took" | awk -v devices="$devices" '{a[NR] = $1}
        END {printf "station, %d devices plugged in every 2 s, restarting 5 s: %d verified; " \
                    "plugged in to verified median %.2f s, worst %.2f s\n",
                    devices, NR, a[int((NR + 1) / 2)] / 1000, a[NR] / 1000}'

    # --- the watch beside 255 quiet devices -------------------------------
    start_lab_sim "$sim" --record "$tmp/udp" --ip-base 10.231.101.1 --generate "255,$settings"
    /usr/bin/time -f "%U %S" -o "$tmp/time" "$velquint" watch --timeout 60 2>/dev/null || true
    stop_lab_sim
    local cpu requests
    cpu=$(awk '{printf "%.2f", $1 + $2}' "$tmp/time")
    requests=$(grep -c " 4B564D34374A5301$" "$tmp/udp" || true)
    echo "watch, 255 quiet devices, 60 s: CPU $cpu s ($(awk -v c="$cpu" 'BEGIN {printf "%.2f", c / 60 * 100}') % of a core);" \
        "$(awk -v r="$requests" 'BEGIN {printf "%.2f", r / 60}') requests a second," \
        "$(awk -v r="$requests" 'BEGIN {printf "%.0f", r * 256 / 60}') datagrams a second with the answers"

    # --- another search beside the watch ----------------------------------
    start_lab_sim "$sim" --ip-base 10.231.101.1 --generate "5,$settings"
    "$velquint" watch --timeout 60 --json >"$tmp/watch" 2>/dev/null &
    local watch=$! searches=0 taken=0 status
    local end=$(($(date +%s) + 58))
    sleep 1
    while [ "$(date +%s)" -lt "$end" ]; do
        status=0
        "$velquint" search --passes 1 >/dev/null 2>&1 || status=$?
        searches=$((searches + 1))
        [ "$status" -eq 4 ] && taken=$((taken + 1))
        sleep 1.3
    done
    wait "$watch" || true
    stop_lab_sim
    echo "a search beside the watch: $taken of $searches found port 3195 taken;" \
        "the watch found it taken $(grep -c '"event":"port-busy"' "$tmp/watch" || true) times"
    rm -rf "$tmp"
}

export -f inside
export velquint sim devices
exec tests/lab/lab.sh --devices 1 -- bash -c inside
