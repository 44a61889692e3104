#!/usr/bin/env bash
# Runs the Windows build's tests under wine, in this machine's own network
# namespace: they stay on loopback and never send on UDP port 3195. One wine
# prefix is made for the run, its wineserver lives for the run, and both go
# on every way out.
#
#   wine-tests.sh BUILD_DIR [CTEST OPTION...]
set -euo pipefail

build="${1:?usage: wine-tests.sh BUILD_DIR [CTEST OPTION...]}"
shift
here="$(cd "$(dirname "$0")" && pwd)"
# shellcheck source=scripts/wine-session.sh
. "$here/../../scripts/wine-session.sh"

trap wine_session_end EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
wine_session_start "$(mktemp -u /tmp/velquint-wine-XXXXXX)"
# Wine's own errors through (only its notes of what it lacks stay out): a
# program that wine fails to start says why in the failed test's output.
export WINEDEBUG=fixme-all
wine_session_boot
"$here/../run-ctest.sh" "$build" "$@"
