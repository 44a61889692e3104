#!/usr/bin/env bash
# Builds a lab of network namespaces, runs one command inside the tool's
# namespace, and tears the lab down on every way out.
#
#   lab.sh [--devices N] [--route device|gateway|none] [--tool-links 1|2] [--]
#          COMMAND [ARG...]
#   lab.sh --check     only whether a lab can be built here (exit status below)
#
# The lab (nothing is added to this machine's own namespace):
#
#   <run>-br     a bridge br0 holding the gateway address 10.231.0.1/16
#   <run>-tool   lab0 10.231.0.2/16, joined to br0; COMMAND runs here. With
#                --tool-links 2 also lab1 10.231.0.3/16, joined to br0 too: a
#                workstation with two network cards on the devices' segment.
#                Each card answers ARP only for its own address (arp_ignore=1,
#                arp_announce=2), so a reply to 10.231.0.3 comes in on lab1
#                and one to 10.231.0.2 on lab0; rp_filter is off there.
#   <run>-devK   lab0 10.231.1.K/16, joined to br0 (K = 1..N); every address of
#                10.231.(100+K).0/24 is local there as well, so simulated
#                devices of that namespace can be reached at their own IP
#
# Each namespace has lo up and a default route through lab0 (the tool's lab1
# gets none), by default "default dev lab0" (--route device). Without one
# (--route none, alias --no-default-route) Linux refuses a send to
# 255.255.255.255 with ENETUNREACH; so does it behind a gateway route
# ("default via 10.231.0.1", --route gateway) once the sender asks for
# SO_DONTROUTE, as discovery does.
#
# <run> is "vqlab-<pid of this script>-<random>". Namespaces left behind by an
# earlier run whose script is gone (killed by a time-out, say) are removed
# first; namespaces of runs still alive are left alone, so labs can run side by
# side (each lab is its own set of network stacks, so they share addresses
# without colliding).
#
# COMMAND sees these variables:
#   VELQUINT_LAB=1, VELQUINT_LAB_RUN, VELQUINT_LAB_TOOL_NS, VELQUINT_LAB_BRIDGE_NS,
#   VELQUINT_LAB_DEVICE_NS (names, space-separated), VELQUINT_LAB_DEVICE_IPS,
#   VELQUINT_LAB_DEVICE_NETS (CIDR ranges local to each device namespace),
#   VELQUINT_LAB_TOOL_IP, VELQUINT_LAB_GATEWAY, VELQUINT_LAB_ROUTE (device, gateway
#   or none), VELQUINT_LAB_TOOL_LINKS and VELQUINT_LAB_TOOL_IPS (the tool's cards
#   and their addresses, in the same order: "lab0 lab1", "10.231.0.2 10.231.0.3")
#
# Exit status: COMMAND's, or 77 (skipped) when not run as root; with
# VELQUINT_LAB_REQUIRED=1 (make check, and so CI) a lab that cannot be built
# is a failure, status 1, not a skip.
set -euo pipefail

readonly LAB_PREFIX="vqlab-"
readonly LAB_NET_PREFIX_LEN=16
readonly LAB_GATEWAY="10.231.0.1"
readonly LAB_TOOL_IP="10.231.0.2"
readonly LAB_SECOND_TOOL_IP="10.231.0.3"
readonly SKIP_STATUS=77

device_count=1
route=device
tool_link_count=1
check_only=0

usage() {
    sed -n '2,/^[^#]/{/^#/p}' "$0" | sed 's/^# \{0,1\}//'
}

while [ $# -gt 0 ]; do
    case "$1" in
        --devices)
            device_count="${2:?--devices needs a number}"
            shift 2
            ;;
        --route)
            route="${2:?--route needs device, gateway or none}"
            shift 2
            ;;
        --tool-links)
            tool_link_count="${2:?--tool-links needs 1 or 2}"
            shift 2
            ;;
        --no-default-route)
            route=none
            shift
            ;;
        --check)
            check_only=1
            shift
            ;;
        -h | --help)
            usage
            exit 0
            ;;
        --)
            shift
            break
            ;;
        -*)
            echo "lab.sh: unknown option $1" >&2
            exit 2
            ;;
        *) break ;;
    esac
done

if [ $# -eq 0 ] && [ "$check_only" -eq 0 ]; then
    echo "lab.sh: no command given" >&2
    exit 2
fi
if ! [[ "$device_count" =~ ^[0-9]+$ ]] || [ "$device_count" -lt 1 ] || [ "$device_count" -gt 99 ]; then
    echo "lab.sh: --devices takes 1 to 99" >&2
    exit 2
fi

case "$route" in device | gateway | none) ;; *)
    echo "lab.sh: --route takes device, gateway or none" >&2
    exit 2
    ;;
esac
case "$tool_link_count" in 1 | 2) ;; *)
    echo "lab.sh: --tool-links takes 1 or 2" >&2
    exit 2
    ;;
esac

if [ "$(id -u)" -ne 0 ]; then
    reason="the lab builds network namespaces and needs root (running as uid $(id -u))"
    if [ "${VELQUINT_LAB_REQUIRED:-0}" = 1 ]; then
        echo "FAILED: $reason; VELQUINT_LAB_REQUIRED=1 (make check) lets no lab test skip" >&2
        exit 1
    fi
    echo "SKIPPED: $reason"
    exit "$SKIP_STATUS"
fi
if ! command -v ip >/dev/null 2>&1; then
    echo "lab.sh: the lab needs 'ip' from iproute2" >&2
    exit 1
fi
[ "$check_only" -eq 1 ] && exit 0

# Kills whatever still runs in a namespace (simulators a crashed test left
# behind) and deletes it.
remove_namespace() {
    local ns="$1" pids
    pids="$(ip netns pids "$ns" 2>/dev/null || true)"
    if [ -n "$pids" ]; then
        # shellcheck disable=SC2086
        kill -KILL $pids 2>/dev/null || true
    fi
    ip netns delete "$ns" 2>/dev/null || true
}

remove_leftovers() {
    local ns owner
    for ns in $(ip netns list 2>/dev/null | awk '{print $1}'); do
        case "$ns" in "$LAB_PREFIX"*) ;; *) continue ;; esac
        owner="${ns#"$LAB_PREFIX"}"
        owner="${owner%%-*}"
        if [[ "$owner" =~ ^[0-9]+$ ]] && ! kill -0 "$owner" 2>/dev/null; then
            remove_namespace "$ns"
        fi
    done
}

run_id="${LAB_PREFIX}$$-$(printf '%04x' $((RANDOM)))"
created=()

teardown() {
    local ns
    for ns in "${created[@]}"; do
        remove_namespace "$ns"
    done
    created=()
}
child=""
# A signal ends the command first, then the lab (the EXIT trap).
on_signal() {
    if [ -n "$child" ]; then
        kill -TERM "$child" 2>/dev/null || true
        wait "$child" 2>/dev/null || true
    fi
    exit "$1"
}
trap teardown EXIT
trap 'echo "lab.sh: line $LINENO failed: $BASH_COMMAND" >&2' ERR
trap 'on_signal 130' INT
trap 'on_signal 143' TERM
trap 'on_signal 129' HUP

add_namespace() {
    # Listed first: a signal's trap runs as soon as `ip netns add` returns,
    # and must find the namespace to remove.
    created+=("$1")
    ip netns add "$1"
    ip -n "$1" link set lo up
}

# Joins namespace $1 to the bridge with address $2 on its link $4 (lab0 when
# not named); the bridge-side end is called $3.
join_bridge() {
    local ns="$1" address="$2" port="$3" link="${4:-lab0}"
    ip -n "$bridge_ns" link add "$port" type veth peer name "$link" netns "$ns"
    ip -n "$bridge_ns" link set "$port" master br0 up
    ip -n "$ns" addr add "$address/$LAB_NET_PREFIX_LEN" dev "$link"
    ip -n "$ns" link set "$link" up
}

# Namespace $1's default route, through lab0 (see --route).
add_default_route() {
    case "$route" in
        device) ip -n "$1" route add default dev lab0 ;;
        gateway) ip -n "$1" route add default via "$LAB_GATEWAY" dev lab0 ;;
        none) ;;
    esac
}

remove_leftovers

bridge_ns="${run_id}-br"
tool_ns="${run_id}-tool"
add_namespace "$bridge_ns"
ip -n "$bridge_ns" link add br0 type bridge stp_state 0 forward_delay 0
ip -n "$bridge_ns" addr add "$LAB_GATEWAY/$LAB_NET_PREFIX_LEN" dev br0
ip -n "$bridge_ns" link set br0 up

add_namespace "$tool_ns"
tool_links=(lab0)
tool_ips=("$LAB_TOOL_IP")
if [ "$tool_link_count" -eq 2 ]; then
    # Two cards on one segment: without arp_ignore both would answer ARP for
    # both addresses, and a reply to either address would come in on the card
    # that answered first. The kernel's route back to a device leaves through
    # lab0 only, so a reverse-path filter would drop what comes in on lab1.
    # Set before the links are made, which take the default's rp_filter.
    ip netns exec "$tool_ns" sysctl -qw net.ipv4.conf.all.arp_ignore=1 \
        net.ipv4.conf.all.arp_announce=2 net.ipv4.conf.all.rp_filter=0 \
        net.ipv4.conf.default.rp_filter=0
    tool_links+=(lab1)
    tool_ips+=("$LAB_SECOND_TOOL_IP")
fi
bridge_ports=(tool tool1)
for i in "${!tool_links[@]}"; do
    join_bridge "$tool_ns" "${tool_ips[$i]}" "${bridge_ports[$i]}" "${tool_links[$i]}"
done
add_default_route "$tool_ns"

device_namespaces=()
device_ips=()
device_nets=()
for k in $(seq 1 "$device_count"); do
    ns="${run_id}-dev${k}"
    add_namespace "$ns"
    join_bridge "$ns" "10.231.1.${k}" "dev${k}"
    add_default_route "$ns"
    # Every address of this range answers here (ARP included), so a simulated
    # device keeps being reachable at whatever address it was given.
    net="10.231.$((100 + k)).0/24"
    ip -n "$ns" route add local "$net" dev lo
    device_namespaces+=("$ns")
    device_ips+=("10.231.1.${k}")
    device_nets+=("$net")
done

export VELQUINT_LAB=1
export VELQUINT_LAB_RUN="$run_id"
export VELQUINT_LAB_TOOL_NS="$tool_ns"
export VELQUINT_LAB_BRIDGE_NS="$bridge_ns"
export VELQUINT_LAB_DEVICE_NS="${device_namespaces[*]}"
export VELQUINT_LAB_DEVICE_IPS="${device_ips[*]}"
export VELQUINT_LAB_DEVICE_NETS="${device_nets[*]}"
export VELQUINT_LAB_TOOL_IP="$LAB_TOOL_IP"
export VELQUINT_LAB_GATEWAY="$LAB_GATEWAY"
export VELQUINT_LAB_ROUTE="$route"
export VELQUINT_LAB_TOOL_LINKS="${tool_links[*]}"
export VELQUINT_LAB_TOOL_IPS="${tool_ips[*]}"

# In the background, so that a signal reaches the traps at once rather than
# after the command.
ip netns exec "$tool_ns" "$@" <&0 &
child=$!
status=0
wait "$child" || status=$?
child=""
exit "$status"
