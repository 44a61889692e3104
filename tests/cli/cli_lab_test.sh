#!/usr/bin/env bash
# velquint end to end, as a script runs it: every command against
# velquint-sim in a lab of network namespaces, its exit status, what it
# prints, and what reached the devices. What the core does is tested
# elsewhere; this tests what the command line adds.
#   cli_lab_test.sh <velquint>     (run by add_lab_test; VELQUINT_SIM names the simulator)
set -uo pipefail

velquint="${1:?path of velquint}"
source "$(dirname "$0")/lab-checks.sh"

# 01 and 02 behave, 03 never confirms a setup, 04 confirms but keeps its
# settings, FF.FF.FF was never given a MAC of its own; 01 serves a pty too.
start_lab_sim "$sim" --record "$tmp/udp" --pty \
    --device "mac=$(mac 01),ip=$net.11,mask=255.255.0.0,gateway=10.231.0.1,port=4001,baud=3" \
    --device "mac=$(mac 02),ip=$net.12,mask=255.255.0.0,gateway=10.231.0.1,port=4001,baud=3" \
    --device "mac=$(mac 03),ip=$net.13,setup-reply=none" \
    --device "mac=$(mac 04),ip=$net.14,setup-keep=1" \
    --device "mac=00.1A.2B.FF.FF.FF,ip=$net.15" || exit 1
pty=$(sed -n 's/^pty //p' <<<"$lab_sim_said")

# --- search ---------------------------------------------------------------
run "search" 0 search
row MAC IP MASK GATEWAY PORT BAUD VERSION INTERFACE
row "$(mac 01)" "$net.11" 255.255.0.0 10.231.0.1 4001 9600 1.06 lab0
has err "warning: device 00.1A.2B.FF.FF.FF has an unprogrammed MAC address"
run "search --csv" 0 search --csv
[ "$(head -1 "$tmp/out")" = "mac,ip,mask,gateway,port,baud,id" ] || fail "header: $(head -1 "$tmp/out")"
has out "$(mac 02),$net.12,255.255.0.0,10.231.0.1,4001,9600,"
run "search --json --sort ip" 0 search --json --sort ip
has out '"mac": "00.1A.2B.00.00.01",'
has out '"interface": "lab0"'
# velquint.exe finds the devices that Linux's velquint finds, field for field.
if [ -n "${VELQUINT_LINUX:-}" ]; then
    current="search --json: the same devices as Linux's velquint"
    cp "$tmp/out" "$tmp/windows.json"
    "$VELQUINT_LINUX" search --json --sort ip >"$tmp/linux.json" 2>/dev/null
    diff "$tmp/linux.json" "$tmp/windows.json" >"$tmp/diff" || fail "$(cat "$tmp/diff")"
fi
run "search on no such interface" 4 search --interface eth7
has err "velquint: no interface named eth7"

# --- setup, set-id, transact ------------------------------------------------
run "setup with --verify" 0 setup "$(mac 01)" --port 4002 --verify
row port 4002 4002
has out "setup of $(mac 01) confirmed and verified"
run "setup --json" 0 setup "$(mac 01)" --port 4002 --verify --json
has out '"asked": 4002,'
has err "setup of $(mac 01) confirmed and verified"
run "setup of a device that is not there" 3 setup "$(mac 09)" --port 4002
has err "velquint: no device with MAC $(mac 09) answered the search"
run "setup of a device that keeps its values" 1 setup "$(mac 04)" --port 4009 --verify \
    --settle-timeout 2
has err "confirmed, but reports other values than asked"
run "set-id over TCP" 0 set-id 5 --host "$net.11" --port 4002
has out "ID 5 written to $net.11:4002"
run "set-id over a serial line" 0 set-id 6 --serial "$(serial_port "$pty")"
run "transact that the device refuses" 1 transact 2 91 --host "$net.11" --port 4002
row result "-21 (the device refused the request (result 2))"
run "set-id on a HID device that is not there" 3 set-id 5 --hid 1234:ABCD
has err "no HID device with that vendor and product identifier"

# --- apply ------------------------------------------------------------------
# Input refused before anything is sent, not even a search, and help: each
# case writes PLAN to $tmp/plan.csv, runs the arguments, and wants the status
# and a line on stderr or stdout.
before=$(wc -l <"$tmp/udp")
plan="$tmp/plan.csv"
while IFS='|' read -r content args status stream text; do
    printf '%b' "$content" >"$plan"
    read -ra words <<<"${args//PLAN/$plan}"
    run "refused: $args ($text)" "$status" "${words[@]}"
    has "$stream" "${text//PLAN/$plan}"
done <<EOF_REFUSED
mac,ip\\n$(mac 01),$net.30\\n|apply PLAN --find-timeout 0|2|err|velquint: --find-timeout: '0' is not a number from 1 to 600
mac,ip\\n00.1A.2B.00.00.0G,$net.30\\n|apply PLAN|2|err|PLAN:2:1: mac '00.1A.2B.00.00.0G' is not a MAC address
mac,ip\\n$(mac 01),10.231.101\\n|apply PLAN|2|err|PLAN:2:19: ip '10.231.101' is not a dotted IPv4 address (four numbers 0-255)
mac,port\\n$(mac 01),0\\n|apply PLAN|2|err|PLAN:2:19: port '0' is not a port number (1 to 65535)
mac,id\\n$(mac 01),300\\n|apply PLAN --json|2|out|"status": "refused"
mac,ip\\n$(mac 01),$net.30\\n$(mac 02),$net.30\\n|apply PLAN|2|err|PLAN:3:19: IP $net.30 is the target of line 2 already
mac,ip\\r\\r|apply PLAN|2|err|PLAN: the plan has a header but no rows
|apply $tmp|2|err|velquint: cannot read the plan $tmp: it is a directory
|setup $(mac 01) --ip 0x0a.0.0.2|2|err|velquint: --ip: '0x0a.0.0.2' is not a dotted IPv4 address
|setup $(mac 01) --port 0 --json|2|out|"message": "--port: '0' is not a port number (1 to 65535) (see --help)"
|set-id 5 --host $net.11 --port 0|2|err|velquint: --port: '0' is not a port number (1 to 65535)
|search --first-wait 31|2|err|velquint: --first-wait: '31' is not a number from 0 to 30
|search --bogus|2|err|velquint: The following argument was not expected: --bogus
|set-id 5 --hid 1234:ABCD --json|3|out|"status": "not-found"
|search --help|0|out|130  stopped by Ctrl-C
|apply --help|0|out|-r,--report FILE
EOF_REFUSED
run "apply on a directory: one line" 2 apply "$tmp"
[ "$(wc -l <"$tmp/err")" -eq 1 ] || fail "$(cat "$tmp/err")"
head -c $((1024 * 1024 + 1)) /dev/zero | tr '\0' '#' >"$plan"
run "a plan over 1 MiB" 2 apply "$plan"
has err "it is larger than 1 MiB"
[ "$(wc -l <"$tmp/udp")" -eq "$before" ] || { current="refused input"; fail "something was sent"; }
# Output that cannot be written fails, with the reason.
current="search --csv >/dev/full"
"$velquint" search --csv >/dev/full 2>"$tmp/err"
[ $? -eq 4 ] && grep -q "cannot write the output: No space left on device" "$tmp/err" ||
    fail "$(cat "$tmp/err")"
current="--help >/dev/full"
"$velquint" apply --help >/dev/full 2>/dev/null && fail "exit status 0"

# Refused after the search: the search alone was sent.
searches=$(datagrams 01)
setups=$(datagrams 02)
printf 'mac,ip\n%s,%s.12\n%s,%s.40\n' "$(mac 01)" "$net" "$(mac 09)" "$net" >"$tmp/taken.csv"
run "plan refused after the search" 2 apply "$tmp/taken.csv" --find-timeout 1
has err "$tmp/taken.csv:2: IP $net.12 is the address of device $(mac 02) already"
has err "$tmp/taken.csv:3: no device with MAC $(mac 09) answered the search"
printf 'mac,ip\n%s,%s.40\n' "$(mac 09)" "$net" >"$tmp/missing.csv"
run "a plan whose device is missing" 3 apply "$tmp/missing.csv" --find-timeout 1
printf 'mac,ip,id\n%s,%s.21,7\n' "$(mac 02)" "$net" >"$tmp/dry.csv"
run "dry run, JSON" 0 apply --dry-run --json "$tmp/dry.csv"
has out '"setup": {'
run "dry run" 0 apply --dry-run "$tmp/dry.csv"
row "$(mac 02)" "broadcast setup: $net.21 255.255.0.0 10.231.0.1 port 4001 baud 9600" \
    "ID 7 to $net.21:4001"
[ "$(datagrams 01)" -gt "$searches" ] && [ "$(datagrams 02)" -eq "$setups" ] ||
    fail "sent something else than searches"

# The everyday workflow: what search --csv wrote is a plan, every row already set.
"$velquint" search --csv >"$tmp/everything.csv" 2>/dev/null
run "apply the search's own CSV" 0 apply "$tmp/everything.csv"
[ "$(grep -c 'already set' "$tmp/out")" -eq 5 ] || fail "not every row already set: $(cat "$tmp/out")"
run "a report that cannot be written" 4 apply "$tmp/everything.csv" --report "$tmp/none/report.csv"
has err "cannot write $tmp/none/report.csv: no temporary file beside it"

# A mixed plan: each way a row can end, and the report in a file.
printf 'mac,ip,port,id\n%s,,4002,\n%s,%s.22,,8\n%s,%s.23,,\n%s,,4010,\n' \
    "$(mac 01)" "$(mac 02)" "$net" "$(mac 03)" "$net" "$(mac 04)" >"$tmp/mixed.csv"
run "mixed plan" 1 apply "$tmp/mixed.csv" --report "$tmp/report.json" --settle-timeout 2
row "$(mac 01)" "$net.11" 255.255.0.0 10.231.0.1 4002 9600 - "already set"
row "$(mac 02)" "$net.22" 255.255.0.0 10.231.0.1 4001 9600 8 "applied and verified"
# 03 took the settings without saying so: the search shows them.
row "$(mac 03)" "$net.23" 255.255.255.0 192.168.1.1 4001 9600 - \
    "applied and verified (no confirmation came; seen with the asked values)"
row "$(mac 04)" "$net.14" 255.255.255.0 192.168.1.1 4001 9600 - \
    "confirmed but reports other values (port: asked 4010, now 4001)"
has report.json '"outcome": "verified"'
# Any other request gets the device's refusal, with its stored ID.
run "the ID reached the device" 1 transact 2 91 --host "$net.22" --port 4001
row data 08

finish
