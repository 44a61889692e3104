#!/usr/bin/env bash
# The installed velquint, run by an unprivileged user (uid and gid 65534, no
# groups), against the installed velquint-sim playing two devices: searching,
# setups, Set ID and doctor need no root. Runs in a lab's tool namespace:
#   tests/lab/lab.sh -- unprivileged_commands.sh       (check-packages.sh does)
set -uo pipefail

source "$(dirname "$0")/../../scripts/lab-sim.sh"
# Everything below broadcasts.
require_lab_namespace

readonly UNPRIVILEGED=65534
readonly VELQUINT=/usr/bin/velquint
readonly SIM=/usr/bin/velquint-sim
trap stop_lab_sim EXIT

as_unprivileged() {
    (cd / && setpriv --reuid="$UNPRIVILEGED" --regid="$UNPRIVILEGED" --clear-groups "$@")
}

if [ "$(as_unprivileged id -u)" != "$UNPRIVILEGED" ]; then
    echo "FAIL: setpriv does not run commands as uid $UNPRIVILEGED"
    exit 1
fi
net=10.231.101
start_lab_sim "$SIM" \
    --device "mac=00.1A.2B.00.00.01,ip=$net.11,port=4001" \
    --device "mac=00.1A.2B.00.00.02,ip=$net.12,port=4001" || exit 1

failures=0
# Each case: the arguments of velquint, and a text its output holds.
while IFS='|' read -r args want; do
    read -ra words <<<"$args"
    said=$(as_unprivileged "$VELQUINT" "${words[@]}" 2>&1)
    status=$?
    if [ "$status" -ne 0 ] || ! grep -qF -- "$want" <<<"$said"; then
        echo "FAIL: velquint $args as uid $UNPRIVILEGED: exit status $status, output:"
        echo "$said"
        failures=$((failures + 1))
    else
        echo "ok: velquint $args (uid $UNPRIVILEGED)"
    fi
done <<EOF_CASES
search --csv|00.1A.2B.00.00.01,$net.11,
search --csv|00.1A.2B.00.00.02,$net.12,
setup 00.1A.2B.00.00.01 --port 4002 --verify|setup of 00.1A.2B.00.00.01 confirmed and verified
set-id 7 --host $net.11 --port 4002|ID 7 written to $net.11:4002
doctor --probe|lab0: 2 devices answered one search request
EOF_CASES
exit $((failures != 0))
