# Sourced by the scripts that run the tool against velquint-sim inside a lab
# (scripts/demo.sh, scripts/screenshot.sh); runs in the lab's tool namespace.

# start_lab_sim SIM ARG...: starts velquint-sim in the lab's first device
# namespace and returns once it listens. Sets lab_sim_pid, and lab_sim_said to
# what it printed until then; the caller's EXIT trap should call stop_lab_sim.
start_lab_sim() {
    local sim=$1 said
    shift
    local device_ns=${VELQUINT_LAB_DEVICE_NS%% *}
    said=$(mktemp)
    # `ip netns exec` becomes the simulator, so lab_sim_pid is the simulator's.
    ip netns exec "$device_ns" "$sim" "$@" >"$said" &
    lab_sim_pid=$!
    for _ in $(seq 100); do
        if grep -qx ready "$said"; then
            lab_sim_said=$(cat "$said")
            rm -f "$said"
            return 0
        fi
        if ! kill -0 "$lab_sim_pid" 2>/dev/null; then
            break
        fi
        sleep 0.1
    done
    rm -f "$said"
    echo "velquint-sim did not start" >&2
    return 1
}

stop_lab_sim() {
    if [ -n "${lab_sim_pid:-}" ]; then
        kill "$lab_sim_pid" 2>/dev/null || true
        wait "$lab_sim_pid" 2>/dev/null || true
        lab_sim_pid=""
    fi
}

# Stops the script unless it runs in a lab namespace: whatever follows
# broadcasts discovery requests.
require_lab_namespace() {
    local here
    here=$(ip netns identify 2>/dev/null || true)
    case "$here" in
        vqlab-*) ;;
        *)
            echo "*** LAB: not inside a lab network namespace (here: '${here:-none}'); refusing to search" >&2
            exit 3
            ;;
    esac
}
