#!/usr/bin/env bash
# velquint.exe under wine beside Linux's velquint, for docs/benchmarks.md
# ("Windows"): `apply` of 255 devices restarting 5 s after the setup at 5 %
# loss each way (bench/cli.sh's case), in one lab of network namespaces
# (needs root) whose wine prefix lab-wine.sh made and checked in the lab's
# tool namespace. Each run starts the same simulated devices twice, with the
# same loss seed: once for each binary, the same plan. Every row must be
# verified; the wall times of the run are printed side by side.
# Usage: bench/windows.sh [linux-build] [windows-build] [runs]
set -euo pipefail
cd "$(dirname "$0")/.."
linux_build=${1:-build-bench}
windows_build=${2:-build-windows-package}
runs=${3:-3}
velquint="$PWD/$linux_build/cli/velquint"
sim="$PWD/$linux_build/sim/velquint-sim"
export VELQUINT_EXE="$PWD/$windows_build/cli/velquint.exe"
velquint_exe="$PWD/tests/windows/velquint-wine.sh"
if [ ! -x "$velquint" ] || [ ! -x "$sim" ] || [ ! -f "$VELQUINT_EXE" ]; then
    echo "build first: make build-bench windows-package" >&2
    exit 1
fi

# Runs inside the lab's tool namespace, with the lab's wine prefix.
inside() {
    set -euo pipefail
    source scripts/lab-sim.sh
    require_lab_namespace
    trap stop_lab_sim EXIT
    local tmp n binary start
    tmp=$(mktemp -d)
    local devices="mask=255.255.0.0,gateway=10.231.0.1,restart=5000"
    for n in $(seq "$runs"); do
        start_lab_sim "$sim" --ip-base 10.231.101.1 --loss 5 --seed "$n" --generate "255,$devices"
        "$velquint" search --passes 10 --csv 2>/dev/null |
            awk -F, -v n="$n" 'NR == 1 {print; next}
                {printf "%s,%s,255.255.240.0,10.231.0.1,%d,115200,%d\n", $1, $2, 5000 + n, n}' \
                >"$tmp/plan.csv"
        stop_lab_sim
        [ "$(($(wc -l <"$tmp/plan.csv") - 1))" -eq 255 ] || {
            echo "run $n: the plan holds $(($(wc -l <"$tmp/plan.csv") - 1)) devices" >&2
            exit 1
        }
        for binary in velquint velquint_exe; do
            start_lab_sim "$sim" --ip-base 10.231.101.1 --loss 5 --seed "$n" \
                --generate "255,$devices"
            start=$(date +%s%N)
            "${!binary}" apply "$tmp/plan.csv" --report "$tmp/report.csv" >/dev/null 2>&1 || true
            echo $((($(date +%s%N) - start) / 1000000)) >"$tmp/$binary.ms"
            [ "$(grep -c ',verified,' "$tmp/report.csv")" -eq 255 ] || {
                echo "run $n, $binary: not every device verified:" >&2
                grep -v ',verified,' "$tmp/report.csv" >&2
                exit 1
            }
            stop_lab_sim
        done
        echo "apply, 255 devices restarting 5 s, 5 % loss, run $n: every row verified by both;" \
            "Linux velquint $(cat "$tmp/velquint.ms") ms, velquint.exe under wine" \
            "$(cat "$tmp/velquint_exe.ms") ms"
    done
    rm -rf "$tmp"
}

export -f inside
export velquint velquint_exe sim runs
exec tests/lab/lab.sh --devices 1 -- tests/lab/lab-wine.sh bash -c inside
