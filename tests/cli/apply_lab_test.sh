#!/usr/bin/env bash
# velquint apply on a segment as real devices make it: a device that restarts
# after its setup, a lost confirmation, a lost setup datagram, a device that
# answers another ID, one that does not come back, devices that share a MAC,
# datagrams lost at random, Ctrl-C; and a workstation with two cards on the segment
# (the lab runs with --tool-links 2 and no default route). Each row's outcome
# token and detail, and what reached the devices.
#   apply_lab_test.sh <velquint>     (run by add_lab_test; VELQUINT_SIM names the simulator)
set -uo pipefail

velquint="${1:?path of velquint}"
source "$(dirname "$0")/lab-checks.sh"

# outcome LINE TOKEN [DETAIL]: the CSV report's row of plan line LINE ends in
# TOKEN, its text, and DETAIL (empty when not given).
outcome() {
    local line
    line=$(grep "^$1," "$tmp/report.csv")
    case "$line" in
        *",$2,"*) ;;
        *) fail "line $1: not $2: $line" ;;
    esac
    [ "${line##*,}" = "${3:-}" ] || [ "${line##*,\"}" = "${3:-}\"" ] ||
        fail "line $1: detail is not '${3:-}': $line"
}
hex() { printf '001A2B0000%s' "$1"; }

settings="mask=255.255.0.0,gateway=10.231.0.1,port=4001,baud=3"
start_lab_sim "$sim" --record "$tmp/udp" \
    --device "mac=$(mac 01),ip=$net.11,$settings,restart=1500" \
    --device "mac=$(mac 02),ip=$net.12,$settings,setup-reply=none" \
    --device "mac=$(mac 03),ip=$net.13,$settings,setup-drop=1" \
    --device "mac=$(mac 05),ip=$net.15,$settings,tcp-data=09" \
    --device "mac=$(mac 06),ip=$net.16,$settings,restart=6000" \
    --device "mac=00.1A.2B.FF.FF.FF,ip=$net.21,$settings" \
    --device "mac=00.1A.2B.FF.FF.FF,ip=$net.22,$settings" || exit 1

run "search over two cards" 0 search
row "$(mac 01)" "$net.11" 255.255.0.0 10.231.0.1 4001 9600 1.06
grep -qE "^$(mac 01) .* (lab0,lab1|lab1,lab0)\$" "$tmp/out" ||
    fail "not one row with both cards: $(cat "$tmp/out")"
has err "2 devices with different settings share MAC 00.1A.2B.FF.FF.FF"

printf 'mac,ip,id\n%s,%s.31,11\n%s,%s.32,\n%s,%s.33,\n%s,%s.35,15\n' \
    "$(mac 01)" "$net" "$(mac 02)" "$net" "$(mac 03)" "$net" "$(mac 05)" "$net" >"$tmp/plan.csv"
run "apply" 1 apply "$tmp/plan.csv" --report "$tmp/report.csv"
outcome 2 verified
outcome 3 verified "no confirmation came; seen with the asked values"
outcome 4 verified
outcome 5 id-not-written "the device answered with ID 9, not 15"
# One datagram out of one card, confirmed before it restarted; the second
# datagram for the one whose first was lost.
[ "$(datagrams 02 "$(hex 01)")" -eq 1 ] || fail "setups of 01: $(datagrams 02 "$(hex 01)")"
[ "$(datagrams 02 "$(hex 03)")" -eq 2 ] || fail "setups of 03: $(datagrams 02 "$(hex 03)")"
run "the ID reached the restarted device" 1 transact 2 91 --host "$net.31" --port 4001
row data 0B

setups=$(datagrams 02)
run "apply again" 1 apply "$tmp/plan.csv" --report "$tmp/report.csv"
outcome 2 verified
outcome 3 already-set
outcome 4 already-set
outcome 5 id-not-written "the device answered with ID 9, not 15"
[ "$(datagrams 02)" -eq "$setups" ] || fail "a setup was sent again"

printf 'mac,ip\n%s,%s.36\n' "$(mac 06)" "$net" >"$tmp/late.csv"
run "a device that is not back in time" 1 apply "$tmp/late.csv" --report "$tmp/report.csv" \
    --settle-timeout 2
outcome 2 not-back "no answer to the searches within 2 s of the setup"

printf 'mac,ip\n00.1A.2B.FF.FF.FF,%s.40\n' "$net" >"$tmp/twins.csv"
setups=$(datagrams 02)
run "a MAC that two devices share" 2 apply "$tmp/twins.csv"
has err "$tmp/twins.csv:2: MAC 00.1A.2B.FF.FF.FF was never programmed"
has err "$tmp/twins.csv:2: 2 devices with different settings ($net.21, $net.22) answer as MAC"
[ "$(datagrams 02)" -eq "$setups" ] || fail "a setup was sent"
stop_lab_sim

# Ten devices, a tenth of all datagrams lost each way.
start_lab_sim "$sim" --loss 10 --seed 5 --ip-base "$net.101" --generate "10,$settings" || exit 1
"$velquint" search --passes 10 --csv 2>/dev/null |
    awk -F, 'NR == 1 {print; next} {printf "%s,,,,4002,,%d\n", $1, NR}' >"$tmp/lossy.csv"
run "apply at 10 % loss" 0 apply "$tmp/lossy.csv" --report "$tmp/report.csv"
[ "$(grep -c ',verified,' "$tmp/report.csv")" -eq 10 ] || fail "$(cat "$tmp/report.csv")"

# Ctrl-C while a device restarts: the run ends at once, and says so.
stop_lab_sim
start_lab_sim "$sim" --device "mac=$(mac 07),ip=$net.17,$settings,restart=20000" || exit 1
printf 'mac,ip\n%s,%s.37\n' "$(mac 07)" "$net" >"$tmp/stop.csv"
current="Ctrl-C"
"$velquint" apply "$tmp/stop.csv" --report "$tmp/report.csv" >"$tmp/out" 2>"$tmp/err" &
sleep 1.5
kill -INT $!
wait $!
status=$?
[ "$status" -eq 130 ] || fail "exit status $status; stderr: $(cat "$tmp/err")"
outcome 2 interrupted "stopped (Ctrl-C or SIGTERM) before the row ended"

finish
