#!/usr/bin/env bash
# A Windows program searches by broadcast under wine in the lab: velquint-sim
# (the Linux build's) answers from the lab's device namespace, and the
# program lists the device with the interface its reply came in on, as the
# Linux tool would.
#
#   lab.sh -- lab-wine.sh wine_lab_test.sh PROBE.EXE    (VELQUINT_SIM: velquint-sim)
set -euo pipefail

probe="${1:?usage: wine_lab_test.sh PROBE.EXE}"
sim="${VELQUINT_SIM:?VELQUINT_SIM must name the Linux velquint-sim}"
: "${WINE64:?run by lab-wine.sh}"
here="$(cd "$(dirname "$0")" && pwd)"
# shellcheck source=scripts/lab-sim.sh
. "$here/../../scripts/lab-sim.sh"
require_lab_namespace
trap stop_lab_sim EXIT

start_lab_sim "$sim" --device mac=00.1A.2B.00.00.01,ip=10.231.101.1
# A Windows program ends its lines with CR LF.
found="$("$WINE64" "$probe" | tr -d '\r')"
echo "$found"
grep -qx "00.1A.2B.00.00.01 10.231.101.1 lab0" <<<"$found"
grep -qx "found 1" <<<"$found"
