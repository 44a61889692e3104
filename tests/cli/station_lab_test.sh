#!/usr/bin/env bash
# The commissioning station and the watch, with devices that velquint-sim
# plugs in one after another: named rows and rows without a MAC, a device on
# the segment from the start, one whose MAC ends in FF.FF.FF, SIGTERM and a
# second run that continues from the report; then `velquint watch` seeing
# devices appear, change and go.
#   station_lab_test.sh <velquint>     (run by add_lab_test; VELQUINT_SIM names the simulator)
set -uo pipefail

velquint="${1:?path of velquint}"
source "$(dirname "$0")/lab-checks.sh"

settings="mask=255.255.0.0,gateway=10.231.0.1,port=4001,baud=3"
# outcome LINE TOKEN MAC: the report's row of plan line LINE.
outcome() {
    grep -q "^$1,$3,.*,$2," "$tmp/report.csv" || fail "line $1: not $2 by $3: $(grep "^$1," "$tmp/report.csv")"
}

# 01 is there from the start and named; 06 is there from the start and named
# by nobody: it takes no row. 02 comes and is named; 03 and 05 come and take
# the rows without a MAC, in order; FF.FF.FF comes and takes none.
start_lab_sim "$sim" \
    --device "mac=$(mac 01),ip=$net.11,$settings,restart=1000" \
    --device "mac=$(mac 06),ip=$net.16,$settings" \
    --device "mac=$(mac 02),ip=$net.12,$settings,appear=1500" \
    --device "mac=$(mac 03),ip=$net.13,$settings,appear=2500" \
    --device "mac=00.1A.2B.FF.FF.FF,ip=$net.14,$settings,appear=3000" \
    --device "mac=$(mac 05),ip=$net.15,$settings,appear=3500,restart=1000" || exit 1
printf 'mac,ip,id\n%s,%s.41,41\n%s,%s.42,42\n,%s.43,43\n,%s.45,45\n,%s.47,47\n' \
    "$(mac 01)" "$net" "$(mac 02)" "$net" "$net" "$net" "$net" >"$tmp/plan.csv"
run "the station" 1 apply "$tmp/plan.csv" --watch --timeout 6 --report "$tmp/report.csv"
outcome 2 verified "$(mac 01)"
outcome 3 verified "$(mac 02)"
outcome 4 verified "$(mac 03)"
outcome 5 verified "$(mac 05)"
outcome 6 not-found ""
has err "never given a row without a MAC: $(mac 01), $(mac 06)"
has err "00.1A.2B.FF.FF.FF appeared: a MAC ending in FF.FF.FF takes no row without a MAC"
run "rows without a MAC need --watch" 2 apply "$tmp/plan.csv"
has err "the row names no MAC (rows without one need --watch)"
stop_lab_sim

# SIGTERM (as Ctrl-C) after two of three devices; the second run takes the third.
stop=TERM
stopped=143
current="SIGTERM"
if ! linux_only "wine ends a program at SIGTERM without its handlers; Ctrl-C stops it instead"; then
    stop=INT
    stopped=130
fi
start_lab_sim "$sim" --ip-base "$net.101" \
    --device "mac=$(mac 21),$settings,appear=1500" \
    --device "mac=$(mac 22),$settings,appear=2000" \
    --device "mac=$(mac 23),$settings,appear=8000" || exit 1
printf 'mac,ip,id\n,%s.51,51\n,%s.52,52\n,%s.53,53\n' "$net" "$net" "$net" >"$tmp/line.csv"
# The first a second after the start, which a busy machine may take.
"$velquint" apply "$tmp/line.csv" --watch --report "$tmp/report.csv" --json >"$tmp/out" 2>"$tmp/err" &
sleep 5
kill -"$stop" $!
wait $!
status=$?
[ "$status" -eq "$stopped" ] || fail "exit status $status; stderr: $(cat "$tmp/err")"
has out '"event":"verified","mac":"00.1A.2B.00.00.21","message":'
has out '"row":2'
cp "$tmp/out" "$tmp/station.jsonl"
outcome 2 verified "$(mac 21)"
outcome 3 verified "$(mac 22)"
outcome 4 not-found ""
run "the second run" 0 apply "$tmp/line.csv" --watch --report "$tmp/report.csv" --timeout 10
outcome 2 verified "$(mac 21)"
outcome 4 verified "$(mac 23)"
has report.csv "verified in an earlier run; nothing sent"
stop_lab_sim

# The watch: 31 comes, 32 goes, 33 gets a new port from a setup (which finds
# the port free between the watch's searches, after a few tries at most).
start_lab_sim "$sim" \
    --device "mac=$(mac 31),ip=$net.31,$settings,appear=1500" \
    --device "mac=$(mac 32),ip=$net.32,$settings,vanish=1000" \
    --device "mac=$(mac 33),ip=$net.33,$settings" || exit 1
(
    sleep 2
    for _ in $(seq 20); do
        "$velquint" setup "$(mac 33)" --port 4033 >/dev/null 2>&1 && break
        sleep 0.2
    done
) &
setup=$!
run "watch" 0 watch --json --timeout 8
wait "$setup"
cp "$tmp/out" "$tmp/watch.jsonl"
for event in "appeared.*$(mac 31)" "gone.*$(mac 32)" "changed.*$(mac 33).*4001 baud 9600 -> .*4033"; do
    grep -q "\"event\":\"$event" "$tmp/out" || fail "no event $event: $(cat "$tmp/out")"
done

# One event schema (velquint(1), EVENTS): every event of the station and of
# the watch has time, event and message, and each kind its own fields,
# whichever of them sent it.
current="event schema"
schema="appeared device sharing
changed device sharing before
gone device sharing
setup-sent row datagrams
setup-sent-again row datagrams
setup-confirmed row
back row
id-retry row
verified row elapsedMs
waiting devices waitedMs
report rows"
for events in station watch; do
    file="$tmp/$events.jsonl"
    grep -q '"event":"appeared"' "$file" || fail "$events: no appeared event"
    jq -e -s 'all(.[]; has("time") and has("event") and has("message"))' "$file" >/dev/null ||
        fail "$events: an event without time, event or message: $(cat "$file")"
    while read -r name fields; do
        for field in $fields; do
            jq -e -s --arg name "$name" --arg field "$field" \
                'all(.[] | select(.event == $name); has($field))' "$file" >/dev/null ||
                fail "$events: a $name event without $field"
        done
    done <<<"$schema"
done

finish
