#!/usr/bin/env bash
# velquint.exe as the command line's lab scripts run velquint: `velquint-wine.sh
# ARG...` runs VELQUINT_EXE ARG... under wine, in the lab's own prefix, as the
# same process (exec), so that its exit status and the signals sent to it
# are its own. Run inside a lab through lab-wine.sh, which made the prefix
# in the lab's tool namespace and checked its wineserver there; here the
# check is made again before every run, and anything amiss refuses (3).
#
#   lab.sh -- lab-wine.sh tests/cli/cli_lab_test.sh tests/windows/velquint-wine.sh
#   (VELQUINT_EXE: velquint.exe of the Windows build)
set -u

readonly NOT_IN_LAB=3
exe="${VELQUINT_EXE:?VELQUINT_EXE must name velquint.exe}"

refuse() {
    echo "*** LAB: $*; refusing to run velquint.exe" >&2
    exit "$NOT_IN_LAB"
}

if [ -z "${VELQUINT_LAB_WINE_PREFIX:-}" ] || [ "${WINEPREFIX:-}" != "$VELQUINT_LAB_WINE_PREFIX" ]; then
    refuse "WINEPREFIX is not the prefix lab-wine.sh made and checked"
fi
server="${VELQUINT_LAB_WINE_SERVER:?}"
[ "$(stat -L -c %i "/proc/$server/ns/net" 2>/dev/null)" = \
    "$(stat -L -c %i "/run/netns/${VELQUINT_LAB_TOOL_NS:?}" 2>/dev/null)" ] ||
    refuse "the prefix's wineserver (pid $server) is gone or not in $VELQUINT_LAB_TOOL_NS"
exec "${WINE64:?}" "$exe" "$@"
