# Sourced by the command line's lab tests: velquint run as a script runs it,
# against velquint-sim in the lab, and checks of what it printed and what
# reached the devices. Expects $velquint; sets $tmp (removed on exit).
#   lab-checks.sh is sourced after `velquint=...`; end the test with `finish`.
# The same scripts test velquint.exe: then $velquint is
# tests/windows/velquint-wine.sh, in a lab whose wine prefix lab-wine.sh made
# (VELQUINT_LAB_WINE_PREFIX), and `windows` is 1.
sim="${VELQUINT_SIM:?the simulator}"
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/lab-sim.sh"
# Everything a test does broadcasts.
require_lab_namespace

tmp=$(mktemp -d)
trap 'stop_lab_sim; rm -rf "$tmp"' EXIT
failures=0
current=""
fail() {
    echo "FAIL: $current: $*"
    failures=$((failures + 1))
}

# run NAME STATUS ARG...: runs velquint with ARG..., keeping its stdout and
# stderr in $tmp/out and $tmp/err, and checks its exit status.
run() {
    current=$1
    local want=$2 got
    shift 2
    "$velquint" "$@" >"$tmp/out" 2>"$tmp/err"
    got=$?
    [ "$got" -eq "$want" ] || fail "exit status $got instead of $want; stderr: $(cat "$tmp/err")"
}
# has FILE TEXT: $tmp/FILE (out, err, ...) holds the line or part of a line TEXT.
has() { grep -qF -- "$2" "$tmp/$1" || fail "$1 lacks '$2'; it reads: $(cat "$tmp/$1")"; }
# row CELL...: stdout holds a table row that begins with these cells.
row() {
    local pattern cell
    pattern=""
    for cell in "$@"; do
        pattern+="$(sed 's/[][\.*^$()+?{}|]/\\&/g' <<<"$cell")  +"
    done
    grep -qE -- "^${pattern%  +}( |\$)" "$tmp/out" || fail "no row '$*'; stdout reads: $(cat "$tmp/out")"
}
# datagrams CODE [HEX]: how many datagrams with command code CODE (and the
# bytes HEX right behind it, a MAC say) reached the devices (--record $tmp/udp).
datagrams() { grep -c " 4B564D34374A53$1${2:-}" "$tmp/udp" || true; }

windows=0
[ -n "${VELQUINT_LAB_WINE_PREFIX:-}" ] && windows=1
# linux_only REASON: true on Linux; on Windows false, saying which check is
# skipped and why. For what cannot hold under wine: `linux_only WHY && ...`.
linux_only() {
    [ "$windows" -eq 0 ] && return 0
    echo "skipped on Windows: ${current:-the next check}: $1"
    return 1
}
# serial_port PTY: the name velquint opens the pseudo-terminal PTY by: PTY
# itself; on Windows a COM port that the wine prefix links to it.
serial_port() {
    if [ "$windows" -eq 0 ]; then
        echo "$1"
        return
    fi
    ln -sfn "$1" "$WINEPREFIX/dosdevices/com7"
    echo COM7
}

mac() { printf '00.1A.2B.00.00.%s' "$1"; }
net="10.231.101"

finish() {
    if [ "$failures" -ne 0 ]; then
        echo "$failures failure(s)"
        exit 1
    fi
    echo "velquint: all checks passed"
}
