#!/usr/bin/env bash
# velquint doctor in a lab: a default-deny nftables ruleset in the tool's
# namespace hides the devices and doctor names the policy; the rule for the
# port of the packages' firewall profile lets them in again; a second program
# on the port is named. Rules go into this lab namespace only: lab-checks.sh
# stops the script anywhere else before the first nft command.
#   doctor_lab_test.sh <velquint> <ufw profile>     (run by add_lab_test)
set -uo pipefail

velquint="${1:?path of velquint}"
profile="${2:?the ufw application profile}"
source "$(dirname "$0")/lab-checks.sh"
port=$(sed -n 's|^ports=\([0-9]*\)/udp$|\1|p' "$profile")
[ "$port" = 3195 ] || { echo "FAIL: $profile opens '$port', not 3195/udp"; exit 1; }

start_lab_sim "$sim" --device "mac=$(mac 01),ip=$net.11" --device "mac=$(mac 02),ip=$net.12" ||
    exit 1

run "doctor on an open machine" 0 doctor
row ok port "UDP port 3195 is free for a search"
row ok interface "lab0: up, broadcasts, 10.231.0.2/16 (subnet 10.231.0.0/16)"
if [ "$windows" -eq 1 ]; then
    row ok route "Windows sends a broadcast out of lab0 (its route to 255.255.255.255): the request goes out of it"
    # wine has no firewall service: a finding, not a failure.
    row warning firewall "the Windows Defender Firewall could not be read"
else
    row ok firewall "nftables lets replies to UDP port 3195 on lab0 from 10.231.0.0/16 in"
fi

# A host firewall that drops whatever it did not ask for.
nft -f - <<'RULES'
table inet vqtest {
    chain input {
        type filter hook input priority filter; policy drop;
        ct state established,related accept
        iif lo accept
    }
}
RULES
run "search behind the firewall" 3 search --passes 1
current="doctor behind the firewall"
if linux_only "velquint.exe judges the Windows Defender Firewall, not Linux's nftables"; then
    run "doctor behind the firewall" 4 doctor --probe
    row problem firewall "nftables drops replies to UDP port 3195 on lab0 from 10.231.0.0/16: the policy drop of chain inet vqtest input; to fix: sudo nft insert rule inet vqtest input iifname \"lab0\" udp dport 3195 accept"
    row warning probe "lab0: no device answered one search request; to fix: see the firewall's finding for lab0"
    has err "1 finding stands in the way of a search"
    run "doctor --json behind the firewall" 4 doctor --json
    has out '"finding": "nftables-drops",'
    current="doctor as an ordinary user"
    said=$(setpriv --reuid=65534 --regid=65534 --clear-groups "$velquint" doctor 2>&1) ||
        fail "exit status $?: $said"
    grep -qF "only root may read the nftables rules; to fix: sudo velquint doctor" <<<"$said" ||
        fail "$said"
else
    # What wine lets it see: the probe that no device answered.
    run "doctor --probe behind the firewall" 3 doctor --probe
    row warning probe "lab0: no device answered one search request; to fix: check that the devices"
fi

nft add rule inet vqtest input udp dport "$port" accept
run "search with the profile's port open" 0 search
row "$(mac 02)" "$net.12"
run "doctor with the profile's port open" 0 doctor --probe
row ok probe "lab0: 2 devices answered one search request"
linux_only "nftables is Linux's" &&
    row ok firewall "nftables lets replies to UDP port 3195 on lab0 from 10.231.0.0/16 in (rule 'udp dport 3195 accept' in chain inet vqtest input)"

# A second program on the port: the simulator, here in the tool's namespace.
stop_lab_sim
VELQUINT_LAB_DEVICE_NS=$VELQUINT_LAB_TOOL_NS start_lab_sim "$sim" --device "mac=$(mac 03)" || exit 1
run "doctor beside another program on the port" 4 doctor
if [ "$windows" -eq 1 ]; then
    # A Linux program holds it: Windows cannot name it.
    row problem port "UDP port 3195 is held by another program"
else
    row problem port "UDP port 3195 is held by velquint-sim (pid $lab_sim_pid); to fix: end that program, or let its own search finish, then search again"
fi

finish
