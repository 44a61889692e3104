#!/usr/bin/env bash
# How ctest runs a Windows program (CMAKE_CROSSCOMPILING_EMULATOR, also when
# it lists a test program's cases): wine64, but only inside the wine session
# of tests/windows/wine-tests.sh or tests/lab/lab-wine.sh, whose prefix and
# wineserver are the run's own. Run any other way (ctest by hand in
# build-windows), wine would make ~/.wine and start a wineserver in this
# machine's own network namespace; this refuses instead.
#
# A test program ends 0 or 1. Any other status comes from wine or from a
# crash, and is said on stderr. One that comes within a second, before a
# test could have run, is taken for wine failing to start the program (a
# test once failed so in 0.03 s, with nothing printed, and passed in every
# run after), and the program is started once more; a crash that happens
# again fails the test with both statuses said.
if [ -z "${VELQUINT_WINE_SESSION:-}" ] || [ "${WINEPREFIX:-}" != "$VELQUINT_WINE_SESSION" ]; then
    echo "wine-emulator.sh: not in a wine session; run the tests through tests/windows/wine-tests.sh (make test-windows)" >&2
    exit 1
fi
readonly WINE64=/usr/lib/wine/wine64
readonly STARTING_MICROSECONDS=1000000

child=""
trap '[ -z "$child" ] || kill -TERM "$child" 2>/dev/null' TERM INT HUP

# Runs the program and sets `status`, waiting on through signals passed on.
run() {
    "$WINE64" "$@" <&0 &
    child=$!
    status=0
    wait "$child" || status=$?
    while kill -0 "$child" 2>/dev/null; do
        status=0
        wait "$child" || status=$?
    done
    child=""
}

for try in 1 2; do
    started=${EPOCHREALTIME/./}
    run "$@"
    [ "$status" -le 1 ] && exit "$status"
    echo "wine-emulator.sh: $(basename "$1") ended with status $status under wine" >&2
    if [ "$try" -eq 2 ] || [ $((${EPOCHREALTIME/./} - started)) -ge "$STARTING_MICROSECONDS" ]; then
        exit "$status"
    fi
    echo "wine-emulator.sh: that early, wine did not start it; once more" >&2
done
