# shellcheck shell=bash
# One wine session, sourced by the scripts that run Windows programs
# (tests/windows/wine-tests.sh, tests/lab/lab-wine.sh): a wine
# prefix made for the run, its wineserver started first and kept alive for
# the run (a program starts in hundredths of a second with a live server,
# and takes most of a second without), and everything ended by process id.
#
#   wine_session_start PREFIX    make PREFIX (a new folder) and start its server
#   wine_session_boot            create the prefix's Windows folders (about 10 s)
#   wine_session_end             end the prefix's programs and its server, by
#                                pid, and remove the prefix
#
# The wineserver, not the program, owns a wine program's sockets: a program
# sends from the network namespace where its prefix's server started. Start
# the session where the programs may send, and check WINE_SERVER_PID's
# namespace before anything does (tests/lab/lab-wine.sh).

readonly WINE64=/usr/lib/wine/wine64
readonly WINESERVER=/usr/lib/wine/wineserver
readonly WINE_SERVER_READY_TRIES=100  # of 0.05 s

WINE_SERVER_PID=""
WINE_SESSION_PREFIX=""  # set once made here: the only folder the end removes

wine_session_start() {
    export WINEPREFIX="$1"
    export WINEDEBUG=-all
    # No Mono, Gecko or menu entries: a prefix for tests needs none of them.
    export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
    mkdir "$WINEPREFIX" || return 1
    WINE_SESSION_PREFIX="$WINEPREFIX"
    # What tests/windows/wine-emulator.sh looks for before it runs a program.
    export VELQUINT_WINE_SESSION="$WINEPREFIX"
    # -f: in the foreground, so that $! is the server itself; -p: persistent.
    "$WINESERVER" -f -p >/dev/null 2>&1 &
    WINE_SERVER_PID=$!
    # Ready once its socket is there; a program started before that would
    # start a server of its own.
    local _
    for _ in $(seq "$WINE_SERVER_READY_TRIES"); do
        [ -S "/proc/$WINE_SERVER_PID/cwd/socket" ] && return 0
        kill -0 "$WINE_SERVER_PID" 2>/dev/null || break
        sleep 0.05
    done
    echo "wine-session: wineserver for $WINEPREFIX did not start" >&2
    return 1
}

wine_session_boot() {
    "$WINE64" wineboot --init >/dev/null 2>&1
}

# The wine programs of this prefix, the server aside: services, devices and
# whatever a test left running.
wine_session_programs() {
    local entry pid
    for entry in /proc/[0-9]*; do
        pid="${entry#/proc/}"
        [ "$(readlink "$entry/exe" 2>/dev/null)" = "$WINE64" ] || continue
        tr '\0' '\n' <"$entry/environ" 2>/dev/null | grep -qxF "WINEPREFIX=$WINEPREFIX" &&
            echo "$pid"
    done
}

wine_session_end() {
    local pid
    for pid in $(wine_session_programs); do
        kill -KILL "$pid" 2>/dev/null || true
    done
    if [ -n "$WINE_SERVER_PID" ]; then
        kill "$WINE_SERVER_PID" 2>/dev/null || true
        wait "$WINE_SERVER_PID" 2>/dev/null || true
        WINE_SERVER_PID=""
    fi
    if [ -n "$WINE_SESSION_PREFIX" ]; then
        rm -rf "$WINE_SESSION_PREFIX"
        WINE_SESSION_PREFIX=""
    fi
}
