#!/usr/bin/env bash
# Command-line figures for docs/benchmarks.md, in a lab of network namespaces
# (needs root), against velquint-sim. Medians of RUNS runs (default 5), each run
# with another loss seed:
#   - `velquint search`, 255 devices answering at once: wall time beyond the
#     0.6 s its three requests and the quiet after them take;
#   - devices that one search misses at 5 % loss each way, by number of
#     requests (--passes 1 to 4), over 20 searches of 255 devices each;
#   - `velquint apply` of a plan that gives every device a new mask, gateway,
#     port, baud rate and ID, every row verified, in these cases:
#       255 devices confirming at once;
#       255 devices confirming 200 ms after the setup;
#       255 devices restarting 5 s after the setup, 5 % loss each way;
#       50 devices restarting 8 s after the setup, 5 % loss each way;
#       20 devices, 10 % loss each way, no restart.
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
    local tmp
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
    mean() { awk '{s += $1} END {printf "%.2f", s / NR}'; }
    local devices="mask=255.255.0.0,gateway=10.231.0.1"

    start_lab_sim "$sim" --ip-base 10.231.101.1 --generate "255,$devices"
    for _ in $(seq "$runs"); do ms "$velquint" search; done | median >"$tmp/search"
    echo "search, 255 devices: median $(($(cat "$tmp/search") - 600)) ms beyond the 0.6 s" \
        "of requests and quiet"
    stop_lab_sim

    local passes seed
    for passes in 1 2 3 4; do
        : >"$tmp/missed"
        for seed in $(seq 20); do
            start_lab_sim "$sim" --ip-base 10.231.101.1 --loss 5 --seed "$seed" \
                --generate "255,$devices"
            found=$("$velquint" search --passes "$passes" --csv 2>/dev/null | tail -n +2 | wc -l)
            echo $((255 - found)) >>"$tmp/missed"
            stop_lab_sim
        done
        echo "search at 5 % loss, --passes $passes: $(mean <"$tmp/missed") of 255 devices" \
            "missed on average, at most $(sort -n "$tmp/missed" | tail -1) (20 searches)"
    done

    # apply_case LABEL COUNT SIM-ARGS...: RUNS plans for COUNT devices.
    apply_case() {
        local label=$1 count=$2 n
        shift 2
        : >"$tmp/apply"
        for n in $(seq "$runs"); do
            start_lab_sim "$sim" --ip-base 10.231.101.1 "$@" --seed "$n" \
                --generate "$count,$devices,$extra"
            # The plan from a search with plenty of requests, so that a lost
            # answer does not leave a device out of it.
            "$velquint" search --passes 10 --csv 2>/dev/null |
                awk -F, -v n="$n" 'NR == 1 {print; next}
                    {printf "%s,%s,255.255.%d.0,10.231.0.%d,%d,%s,%d\n", $1, $2, 240 + n % 2,
                     1 + n % 2, 5000 + n, (n % 2 ? 115200 : 9600), n}' >"$tmp/plan.csv"
            [ "$(($(wc -l <"$tmp/plan.csv") - 1))" -eq "$count" ] || {
                echo "$label, run $n: the plan holds $(($(wc -l <"$tmp/plan.csv") - 1)) devices" >&2
                exit 1
            }
            ms "$velquint" apply "$tmp/plan.csv" --report "$tmp/report.csv" 2>/dev/null \
                >>"$tmp/apply" || true
            [ "$(grep -c ',verified,' "$tmp/report.csv")" -eq "$count" ] || {
                echo "$label, run $n: not every device verified:" >&2
                grep -v ',verified,' "$tmp/report.csv" >&2
                exit 1
            }
            stop_lab_sim
        done
        echo "apply, $label: every row verified; median $(median <"$tmp/apply") ms" \
            "(runs: $(tr '\n' ' ' <"$tmp/apply"))"
    }
    extra="setup-delay=0" apply_case "255 devices confirming at once" 255
    extra="setup-delay=200" apply_case "255 devices confirming after 200 ms" 255
    extra="restart=5000" apply_case "255 devices restarting 5 s, 5 % loss" 255 --loss 5
    extra="restart=8000" apply_case "50 devices restarting 8 s, 5 % loss" 50 --loss 5
    extra="setup-delay=0" apply_case "20 devices, 10 % loss" 20 --loss 10
    rm -rf "$tmp"
}

export -f inside
export velquint sim runs
exec tests/lab/lab.sh --devices 1 -- bash -c inside
