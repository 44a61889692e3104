#!/usr/bin/env bash
# Command-line figures for the README, in a lab of network namespaces (needs
# root), against velquint-sim playing 255 devices that answer at once:
#   - `velquint search`: wall time beyond the 0.4 s that the search must wait
#     after the last answer;
#   - `velquint apply` of a 255-row plan that gives every device a new mask,
#     gateway, port, baud rate and ID, with the devices confirming at once
#     and 200 ms after the setup: wall time, everything applied, written and
#     verified.
# Usage: bench/cli.sh [build-dir] [runs]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
runs=${2:-5}
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
    local tmp ms
    tmp=$(mktemp -d)
    # Milliseconds of wall time that a command takes.
    ms() {
        local start end
        start=$(date +%s%N)
        "$@" >/dev/null
        end=$(date +%s%N)
        echo $(((end - start) / 1000000))
    }
    median() { sort -n | awk '{a[NR] = $1} END {print a[int((NR + 1) / 2)]}'; }

    start_lab_sim "$sim" --ip-base 10.231.101.1 --generate "255,mask=255.255.0.0,gateway=10.231.0.1"
    for _ in $(seq "$runs"); do ms "$velquint" search; done | median >"$tmp/search"
    echo "search, 255 devices: median $(($(cat "$tmp/search") - 400)) ms beyond the 0.4 s wait"
    stop_lab_sim

    local delay plan n
    for delay in 0 200; do
        start_lab_sim "$sim" --ip-base 10.231.101.1 \
            --generate "255,mask=255.255.0.0,gateway=10.231.0.1,setup-delay=$delay"
        : >"$tmp/apply"
        for n in $(seq "$runs"); do
            # Each run asks for other values than the run before.
            "$velquint" search --csv 2>/dev/null |
                awk -F, -v n="$n" 'NR == 1 {print; next}
                    {printf "%s,%s,255.255.%d.0,10.231.0.%d,%d,%s,%d\n", $1, $2, 240 + n % 2,
                     1 + n % 2, 5000 + n, (n % 2 ? 115200 : 9600), n}' >"$tmp/plan.csv"
            ms "$velquint" apply "$tmp/plan.csv" --report "$tmp/report.csv" 2>/dev/null >>"$tmp/apply"
            [ "$(grep -c ',applied and verified,' "$tmp/report.csv")" -eq 255 ] || {
                echo "run $n: not every device took the plan" >&2
                exit 1
            }
        done
        echo "apply, 255 devices confirming after ${delay} ms: median $(median <"$tmp/apply") ms" \
            "(runs: $(tr '\n' ' ' <"$tmp/apply"))"
        stop_lab_sim
    done
    rm -rf "$tmp"
}

export -f inside
export velquint sim runs
exec tests/lab/lab.sh --devices 1 -- bash -c inside
