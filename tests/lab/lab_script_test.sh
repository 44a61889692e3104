#!/usr/bin/env bash
# Checks lab.sh itself: the lab it builds, that the command's status comes
# back, that nothing is left behind on any way out, that leftovers of dead runs
# go while live runs stay, and that it skips when not root (fails where the
# lab is required).
#   lab_script_test.sh <path of lab.sh>
set -uo pipefail

lab="${1:?path of lab.sh}"
failures=0

fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

# Skips, or fails under make check, as every lab test does where no lab can
# be built.
"$lab" --check || exit $?

own_links() { ip -o link show | awk -F': ' '{print $2}' | sort; }
lab_namespaces() { ip netns list | awk '{print $1}' | grep '^vqlab-' | sort; }
links_before="$(own_links)"
tmp="$(mktemp -d)"
unprivileged=""
trap 'rm -rf "$tmp" "$unprivileged"' EXIT

# The command runs in the tool namespace, sees the lab's description and
# reaches every namespace of the lab; its exit status comes back.
"$lab" --devices 2 -- bash -c '
    ip netns identify > "$0/identify"
    echo "$VELQUINT_LAB_TOOL_NS $VELQUINT_LAB_BRIDGE_NS $VELQUINT_LAB_DEVICE_NS" > "$0/names"
    ip -4 -o addr show dev lab0 > "$0/address"
    ip route show default > "$0/route"
    ip -n "${VELQUINT_LAB_DEVICE_NS##* }" route show table local > "$0/device_local"
    exit 7' "$tmp"
status=$?
[ "$status" -eq 7 ] || fail "the command's status 7 came back as $status"
read -r tool_ns bridge_ns dev1 dev2 < "$tmp/names"
[ "$(cat "$tmp/identify")" = "$tool_ns" ] || fail "the command ran in '$(cat "$tmp/identify")', not in $tool_ns"
case "$tool_ns $bridge_ns $dev1 $dev2" in
    vqlab-*-tool\ vqlab-*-br\ vqlab-*-dev1\ vqlab-*-dev2) ;;
    *) fail "unexpected namespace names: $tool_ns $bridge_ns $dev1 $dev2" ;;
esac
grep -q 'inet 10.231.0.2/16' "$tmp/address" || fail "tool address: $(cat "$tmp/address")"
grep -q '^default dev lab0' "$tmp/route" || fail "default route: $(cat "$tmp/route")"
grep -q 'local 10.231.102.0/24' "$tmp/device_local" || fail "device range: $(cat "$tmp/device_local")"
for ns in $tool_ns $bridge_ns $dev1 $dev2; do
    ip netns list | grep -q "^$ns\b" && fail "$ns is left behind"
done

# The other kinds of default route.
"$lab" --route gateway -- bash -c 'ip route show default' > "$tmp/gateway_route"
grep -q '^default via 10.231.0.1 dev lab0' "$tmp/gateway_route" ||
    fail "gateway route: $(cat "$tmp/gateway_route")"
"$lab" --route none -- bash -c 'ip route show default' > "$tmp/no_route"
[ -s "$tmp/no_route" ] && fail "--route none left a default route: $(cat "$tmp/no_route")"

# A tool with two cards on the segment.
"$lab" --tool-links 2 -- bash -c 'ip -4 -o addr show up' > "$tmp/two_links"
for card in "lab0.* 10.231.0.2/16" "lab1.* 10.231.0.3/16"; do
    grep -q "^[0-9]*: $card" "$tmp/two_links" || fail "--tool-links 2: no $card in $(cat "$tmp/two_links")"
done

# A failing command, and a lab ended by a signal, leave nothing either.
"$lab" -- false
[ $? -eq 1 ] || fail "a failing command's status did not come back"
"$lab" -- sleep 60 &
lab_pid=$!
for _ in $(seq 1 100); do
    [ -n "$(lab_namespaces | grep "^vqlab-$lab_pid-")" ] && break
    sleep 0.05
done
[ -n "$(lab_namespaces | grep "^vqlab-$lab_pid-")" ] || fail "the signalled lab never came up"
kill -TERM "$lab_pid"
wait "$lab_pid"
[ -z "$(lab_namespaces | grep "^vqlab-$lab_pid-")" ] || fail "a signalled lab left $(lab_namespaces | grep "^vqlab-$lab_pid-")"

# Leftovers of a run whose script is gone are removed; a live run's stay.
true &
dead_pid=$!
wait "$dead_pid"
kill -0 "$dead_pid" 2>/dev/null && dead_pid=999999999
ip netns add "vqlab-$dead_pid-dead-tool"
ip netns add "vqlab-$$-live-tool"
"$lab" -- true
ip netns list | grep -q "^vqlab-$dead_pid-dead-tool\b" && fail "a dead run's leftover stayed"
ip netns list | grep -q "^vqlab-$$-live-tool\b" || fail "a live run's namespace was removed"
ip netns delete "vqlab-$dead_pid-dead-tool" 2>/dev/null
ip netns delete "vqlab-$$-live-tool" 2>/dev/null

# Without root the lab is skipped, with a reason. The unprivileged user runs a
# copy of the script in a folder it can reach: a clone under /root, or under
# any folder of mode 700, is out of its reach.
unprivileged="$(mktemp -d)"
chmod 755 "$unprivileged"
install -m 755 "$lab" "$unprivileged/lab.sh"
as_nobody() { setpriv --reuid=65534 --regid=65534 --clear-groups "$@"; }
for args in "-- true" "--check"; do
    # shellcheck disable=SC2086
    output="$(VELQUINT_LAB_REQUIRED=0 as_nobody "$unprivileged/lab.sh" $args 2>&1)"
    status=$?
    [ "$status" -eq 77 ] || fail "not root ($args): status $status instead of 77"
    case "$output" in *SKIPPED*root*) ;; *) fail "not root ($args): no reason given: $output" ;; esac
done
# Where the lab is required (make check), the same is a failure.
output="$(VELQUINT_LAB_REQUIRED=1 as_nobody "$unprivileged/lab.sh" -- true 2>&1)"
status=$?
[ "$status" -eq 1 ] || fail "lab required, not root: status $status instead of 1"
case "$output" in *FAILED*root*) ;; *) fail "lab required, not root: no reason given: $output" ;; esac

# Nothing was added to this machine's own namespace.
[ "$(own_links)" = "$links_before" ] || fail "links of the machine's own namespace changed"

if [ "$failures" -ne 0 ]; then
    echo "$failures failure(s)"
    exit 1
fi
echo "lab.sh: all checks passed"
