#!/usr/bin/env bash
# Runs COMMAND with a wine prefix of this lab's own. Runs inside the lab's
# tool namespace, as lab.sh's COMMAND:
#
#   lab.sh [OPTION...] -- lab-wine.sh COMMAND [ARG...]
#
# Under wine the wineserver, not the program, owns the sockets: a Windows
# program sends from the network namespace where its prefix's server
# started. So the prefix is made here, its server is started here, and
# before anything else runs the server's network namespace is compared with
# the lab's tool namespace (/proc/PID/ns/net against /run/netns/NAME, and
# `ip netns identify`); any doubt ends the run, status 3. The prefix's
# programs and its server are ended by process id on every way out.
#
# COMMAND sees WINEPREFIX, WINE64 (the program to run Windows programs with),
# VELQUINT_LAB_WINE_SERVER (the server's pid) and VELQUINT_LAB_WINE_PREFIX
# (the prefix whose server was checked; Windows test programs refuse to send
# under any other).
set -euo pipefail

readonly NOT_IN_LAB=3

refuse() {
    echo "*** LAB: $*; refusing to run Windows programs" >&2
    exit "$NOT_IN_LAB"
}

if [ "${VELQUINT_LAB:-}" != 1 ] || [ -z "${VELQUINT_LAB_TOOL_NS:-}" ]; then
    refuse "not run by lab.sh (VELQUINT_LAB, VELQUINT_LAB_TOOL_NS unset)"
fi
[ "$(ip netns identify $$ 2>/dev/null || true)" = "$VELQUINT_LAB_TOOL_NS" ] ||
    refuse "not inside the lab's tool namespace $VELQUINT_LAB_TOOL_NS"

here="$(cd "$(dirname "$0")" && pwd)"
# shellcheck source=scripts/wine-session.sh
. "$here/../../scripts/wine-session.sh"
trap wine_session_end EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

wine_session_start "$(mktemp -u "/tmp/velquint-wine-$VELQUINT_LAB_RUN-XXXXXX")"

lab_ns="$(stat -L -c %i "/run/netns/$VELQUINT_LAB_TOOL_NS" 2>/dev/null || true)"
server_ns="$(stat -L -c %i "/proc/$WINE_SERVER_PID/ns/net" 2>/dev/null || true)"
server_named="$(ip netns identify "$WINE_SERVER_PID" 2>/dev/null || true)"
if [ -z "$lab_ns" ] || [ "$server_ns" != "$lab_ns" ] ||
    [ "$server_named" != "$VELQUINT_LAB_TOOL_NS" ]; then
    refuse "the wineserver (pid $WINE_SERVER_PID) is in namespace '${server_named:-?}'" \
        "(inode ${server_ns:-?}), not in $VELQUINT_LAB_TOOL_NS (inode ${lab_ns:-?})"
fi
export VELQUINT_LAB_WINE_SERVER="$WINE_SERVER_PID"
export VELQUINT_LAB_WINE_PREFIX="$WINEPREFIX"
export WINE64

wine_session_boot
"$@"
