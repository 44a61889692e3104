#!/usr/bin/env bash
# How ctest runs a Windows program (CMAKE_CROSSCOMPILING_EMULATOR, also when
# it lists a test program's cases): wine64, but only inside the wine session
# of tests/windows/wine-tests.sh or tests/lab/lab-wine.sh, whose prefix and
# wineserver are the run's own. Run any other way (ctest by hand in
# build-windows), wine would make ~/.wine and start a wineserver in this
# machine's own network namespace; this refuses instead.
if [ -z "${VELQUINT_WINE_SESSION:-}" ] || [ "${WINEPREFIX:-}" != "$VELQUINT_WINE_SESSION" ]; then
    echo "wine-emulator.sh: not in a wine session; run the tests through tests/windows/wine-tests.sh (make test-windows)" >&2
    exit 1
fi
exec /usr/lib/wine/wine64 "$@"
