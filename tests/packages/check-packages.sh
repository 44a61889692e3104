#!/usr/bin/env bash
# Checks the Debian packages that `make package` made (`make check-packages`):
#
#   check-packages.sh PACKAGE_DIR BUILD_DIR
#
# PACKAGE_DIR holds the packages; BUILD_DIR is the project's test build, with
# velquint_close_windows and the Wireshark plugin's tests built.
#
#  1. The packages: names, version, and what each holds; lintian finds no
#     error and no warning (a package's lintian overrides say why one stays).
#     The firewall profiles: ufw's own parser reads the application profile,
#     firewalld's own reader the service, and the profile is a conffile.
#  2. The desktop entry and the AppStream metainfo pass their validators.
#  3. The manual pages format without a warning; velquint(1) and the bash
#     completion name every command, option and exit code that velquint's
#     --help lists, velquint-sim(1) every option of velquint-sim's.
#  4. As root (skipped otherwise), the install test: the packages installed
#     with apt; the programs run, the window offscreen and closed as a user
#     closes it; tshark loads the installed plugin while the plugin's own tests
#     pass; in a lab, velquint run by an unprivileged user finds, sets up and
#     writes the ID of devices that velquint-sim plays. Then the packages are
#     purged, on every way out, and nothing of theirs may be left on disk.
#
# Exit status: 0 when every check passed, 1 otherwise.
set -uo pipefail

package_dir=$(cd "${1:?usage: check-packages.sh PACKAGE_DIR BUILD_DIR}" && pwd) || exit 1
build_dir=$(cd "${2:?usage: check-packages.sh PACKAGE_DIR BUILD_DIR}" && pwd) || exit 1
here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(cd "$here/../.." && pwd)

readonly PACKAGES=(velquint-tool velquint velquint-sim velquint-common)
# The packages without a program of their own.
readonly DATA_PACKAGES=" velquint-common "
readonly APP_ID=org.velquint.tool
readonly WINDOW_TITLE="Velquint Tool  V"
readonly UNPRIVILEGED=65534
# One install test at a time on a machine, whichever clone it runs from.
readonly INSTALL_LOCK=/run/lock/velquint-packages.lock

project_version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$package_dir/CMakeCache.txt")
version="$project_version-1"
arch=$(dpkg --print-architecture)
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH 2>/dev/null)

tmp=$(mktemp -d)
failures=0
current=""
fail() {
    echo "FAIL: $current: $*"
    failures=$((failures + 1))
}

# check NAME COMMAND...: runs the check function COMMAND, and says how it went
# and how long it took.
check() {
    current=$1
    shift
    local before=$failures started=$EPOCHREALTIME
    "$@"
    local took
    took=$(awk -v a="$started" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.1f", b - a }')
    if [ "$failures" -eq "$before" ]; then
        echo "ok: $current (${took} s)"
    else
        echo "FAILED: $current (${took} s)"
    fi
}

deb() {
    local package_arch=$arch
    [[ "$DATA_PACKAGES" == *" $1 "* ]] && package_arch=all
    echo "$package_dir/${1}_${version}_${package_arch}.deb"
}

# --- 1. the packages -------------------------------------------------------
check_names_and_contents() {
    local package file path size
    for package in "${PACKAGES[@]}"; do
        file=$(deb "$package")
        if [ ! -f "$file" ]; then
            fail "no $(basename "$file")"
            continue
        fi
        [ "$(dpkg-deb -f "$file" Package)" = "$package" ] || fail "$file: wrong Package field"
        [ "$(dpkg-deb -f "$file" Version)" = "$version" ] || fail "$file: version is not $version"
        dpkg-deb -x "$file" "$tmp/tree"
        dpkg-deb -c "$file" | awk '{ print $NF }' | sed 's|^\./||' >"$tmp/$package.list"
        # One program a package: no test or benchmark goes with them.
        local programs=1
        [[ "$DATA_PACKAGES" == *" $package "* ]] && programs=0
        [ "$(grep -c '^usr/bin/.' "$tmp/$package.list")" -eq "$programs" ] ||
            fail "$package holds other programs than its own: $(grep '^usr/bin/.' "$tmp/$package.list" | tr '\n' ' ')"
        grep -v -e '^usr/bin/' -e '^usr/share/' -e "^usr/lib/$multiarch/wireshark/" -e '/$' \
            -e '^etc/ufw/applications\.d/' -e '^usr/lib/firewalld/services/' \
            "$tmp/$package.list" | sed 's/^/outside the usual folders: /' >"$tmp/stray"
        [ -s "$tmp/stray" ] && fail "$package: $(cat "$tmp/stray")"
    done
    # What each package must hold.
    local wanted=(
        "velquint-tool usr/bin/velquint-tool"
        "velquint-tool usr/share/applications/$APP_ID.desktop"
        "velquint-tool usr/share/metainfo/$APP_ID.metainfo.xml"
        "velquint-tool usr/share/man/man1/velquint-tool.1.gz"
        "velquint usr/bin/velquint"
        "velquint usr/share/man/man1/velquint.1.gz"
        "velquint usr/share/bash-completion/completions/velquint"
        "velquint usr/lib/$multiarch/wireshark/plugins/velquint.lua"
        "velquint-sim usr/bin/velquint-sim"
        "velquint-sim usr/share/man/man1/velquint-sim.1.gz"
        "velquint-common etc/ufw/applications.d/velquint"
        "velquint-common usr/lib/firewalld/services/velquint.xml"
    )
    for package in "${PACKAGES[@]}"; do
        wanted+=("$package usr/share/doc/$package/copyright"
            "$package usr/share/doc/$package/changelog.Debian.gz")
    done
    # The window's icon at every size the project has.
    for file in "$source_dir"/app/icons/mainicon-*.png; do
        size=${file##*-}
        size=${size%.png}
        wanted+=("velquint-tool usr/share/icons/hicolor/${size}x${size}/apps/velquint-tool.png")
    done
    for file in "${wanted[@]}"; do
        package=${file%% *}
        path=${file#* }
        grep -qxF "$path" "$tmp/$package.list" 2>/dev/null || fail "$package lacks /$path"
    done
    cmp -s "$source_dir/wireshark/velquint.lua" "$tmp/tree/usr/lib/$multiarch/wireshark/plugins/velquint.lua" ||
        fail "the packaged Wireshark plugin is not wireshark/velquint.lua"
    # Both front ends bring the profiles, of their own version.
    for package in velquint-tool velquint; do
        dpkg-deb -f "$(deb "$package")" Depends | grep -qF "velquint-common (= $version)" ||
            fail "$package does not depend on velquint-common (= $version)"
    done
}

# The profiles as ufw and firewalld read them, with their own parsers (ufw's
# Python module, firewalld's reader in python3-firewall, both installed by
# install-deps.sh --check without a firewall daemon, for Debian's python3), on
# a scratch copy: no firewall is asked to load them, and nothing is opened on
# this machine. Debian's firewalld ships no XML schema of its services; its
# reader is what firewalld itself checks a service with.
check_firewall_profiles() {
    local profiles="$tmp/ufw-applications" said
    [ "$(dpkg-deb -I "$(deb velquint-common)" conffiles)" = /etc/ufw/applications.d/velquint ] ||
        fail "the ufw profile is not velquint-common's only conffile"
    # No maintainer script: installing the package enables nothing.
    dpkg-deb --ctrl-tarfile "$(deb velquint-common)" | tar -t | grep -E 'inst$|rm$' &&
        fail "velquint-common has maintainer scripts"
    mkdir -p "$profiles"
    cp "$tmp/tree/etc/ufw/applications.d/velquint" "$profiles/"
    cat >"$tmp/read-ufw-profile.py" <<'PYTHON'
import gettext, sys
gettext.install("ufw")
import ufw.applications as applications
profiles = applications.get_profiles(sys.argv[1])
print(" ".join(applications.get_ports(profiles["velquint"])))
PYTHON
    cat >"$tmp/read-firewalld-service.py" <<'PYTHON'
import sys
from firewall.core.io.service import service_reader
service = service_reader("velquint.xml", sys.argv[1])
print(service.name, " ".join("/".join(port) for port in service.ports))
PYTHON
    said=$(/usr/bin/python3 "$tmp/read-ufw-profile.py" "$profiles" 2>&1) || fail "ufw's parser: $said"
    [ "$said" = 3195/udp ] || fail "ufw reads the profile velquint as '$said', not 3195/udp"
    said=$(/usr/bin/python3 "$tmp/read-firewalld-service.py" "$tmp/tree/usr/lib/firewalld/services" 2>&1) ||
        fail "firewalld's reader: $said"
    [ "$said" = "velquint 3195/udp" ] || fail "firewalld reads the service as '$said', not velquint 3195/udp"
}

check_lintian() {
    local files=() package
    for package in "${PACKAGES[@]}"; do
        files+=("$(deb "$package")")
    done
    # Overridden tags are listed but not failed on (lintian's --fail-on would
    # count them as soon as they are shown).
    if ! lintian --fail-on none --info --show-overrides "${files[@]}" >"$tmp/lintian" 2>&1; then
        fail "lintian did not run: $(cat "$tmp/lintian")"
    elif grep -q '^[EW]:' "$tmp/lintian"; then
        fail "lintian:"
        grep -v 'running with root privileges' "$tmp/lintian"
    fi
    grep '^O:' "$tmp/lintian" | sed 's/^O:/    overridden:/'
}

# --- 2. desktop entry and metainfo -----------------------------------------
check_desktop_entry() {
    local entry="$tmp/tree/usr/share/applications/$APP_ID.desktop"
    desktop-file-validate "$entry" >"$tmp/said" 2>&1 || fail "$(cat "$tmp/said")"
    [ -s "$tmp/said" ] && fail "desktop-file-validate: $(cat "$tmp/said")"
    grep -qx 'Name=Velquint Tool' "$entry" || fail "Name is not Velquint Tool"
    grep -qx 'Icon=velquint-tool' "$entry" || fail "Icon is not velquint-tool"
}

check_metainfo() {
    appstreamcli validate --no-net --pedantic --explain \
        "$tmp/tree/usr/share/metainfo/$APP_ID.metainfo.xml" >"$tmp/said" 2>&1 ||
        fail "$(cat "$tmp/said")"
}

# --- 3. manual pages and completion ----------------------------------------
page() { echo "$tmp/tree/usr/share/man/man1/$1.1.gz"; }
# A page as plain text, one line a paragraph as far as it goes.
page_text() { zcat "$(page "$1")" | groff -man -Tascii -P-cbou -rLL=1000n -rHY=0 2>/dev/null; }

check_man_warnings() {
    local name
    for name in "${PACKAGES[@]}"; do
        [[ "$DATA_PACKAGES" == *" $name "* ]] && continue
        zcat "$(page "$name")" | groff -ww -z -man -Tutf8 >"$tmp/said" 2>&1
        [ -s "$tmp/said" ] && fail "groff on $name(1): $(cat "$tmp/said")"
        LC_ALL=C.UTF-8 man --warnings -E UTF-8 -l -Tutf8 -Z "$(page "$name")" 2>"$tmp/said" >/dev/null
        [ -s "$tmp/said" ] && fail "man on $name(1): $(cat "$tmp/said")"
    done
}

# The lines of a --help section ("Options:", "Subcommands:", ...) up to the
# next blank line.
help_section() { awk -v title="$1" '$0 == title { on = 1; next } on && /^$/ { exit } on'; }
# The names in the first column of such a section: "-s,--sort TEXT" -> -s --sort.
first_words() { awk '/^  [^ ]/ { print $1 }' | tr ',' '\n'; }
# Whether a page's text (stdin) has an entry for NAME: a line that starts
# with its names ("       -s, --sort=KEY"), not a mention elsewhere.
has_entry() { grep -qE -- "^       ([^ ]+, )*$1( |,|=|\$)"; }

check_velquint_page() {
    local velquint="$tmp/tree/usr/bin/velquint" text command name code section
    text=$(page_text velquint)
    "$velquint" --help >"$tmp/help"
    help_section "Subcommands:" <"$tmp/help" | first_words >"$tmp/commands"
    [ -s "$tmp/commands" ] || fail "velquint --help lists no command"
    help_section "Options:" <"$tmp/help" | first_words >"$tmp/options"
    while read -r name; do
        has_entry "$name" <<<"$text" || fail "velquint(1) lacks the option $name"
    done <"$tmp/options"
    while read -r command; do
        # The command's part of the page: from its heading to the next one.
        section=$(awk -v c="$command" '$0 == "   " c { on = 1; next } on && (/^[^ ]/ || /^   [^ ]/) { exit } on' <<<"$text")
        [ -n "$section" ] || fail "velquint(1) has no part for the command $command"
        "$velquint" "$command" --help >"$tmp/command-help"
        { help_section "Options:" <"$tmp/command-help" | first_words
          help_section "Positionals:" <"$tmp/command-help" | first_words; } >"$tmp/names"
        while read -r name; do
            has_entry "$name" <<<"$section" || fail "velquint(1) lacks $name of the command $command"
        done <"$tmp/names"
    done <"$tmp/commands"
    section=$(awk '/^EXIT STATUS/ { on = 1; next } on && /^[^ ]/ { exit } on' <<<"$text")
    help_section "Exit status:" <"$tmp/help" | awk '/^  [0-9]/ { print $1 }' >"$tmp/codes"
    [ -s "$tmp/codes" ] || fail "velquint --help lists no exit status"
    while read -r code; do
        grep -qE "^ +$code +[a-z]" <<<"$section" || fail "velquint(1) lacks the exit status $code"
    done <"$tmp/codes"
}

# What the completion offers: completion_of WORD... (the last one is being typed).
completion_of() {
    bash -c 'source "$1"; shift; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); _velquint
             printf "%s\n" "${COMPREPLY[@]}"' sh \
        "$tmp/tree/usr/share/bash-completion/completions/velquint" velquint "$@"
}

check_completion() {
    local command name
    grep -qx 'complete -F _velquint velquint' "$tmp/tree/usr/share/bash-completion/completions/velquint" ||
        fail "the completion is not bound to velquint"
    completion_of "" >"$tmp/offered"
    while read -r name; do
        grep -qxF -- "$name" "$tmp/offered" || fail "'velquint <Tab>' does not offer $name"
    done < <(cat "$tmp/commands" "$tmp/options")
    while read -r command; do
        "$tmp/tree/usr/bin/velquint" "$command" --help | help_section "Options:" | first_words >"$tmp/names"
        completion_of "$command" - >"$tmp/offered"
        while read -r name; do
            grep -qxF -- "$name" "$tmp/offered" || fail "'velquint $command -<Tab>' does not offer $name"
        done <"$tmp/names"
    done <"$tmp/commands"
    # A few answers in full: choices, a number, a prefix.
    local cases=(
        "search --sort ''|mac ip"
        "search --first-wait ''|"
        "set-id --h|--help --host --hid"
        "se|search setup set-id"
    )
    local case words got
    for case in "${cases[@]}"; do
        eval "words=(${case%%|*})"
        got=$(completion_of "${words[@]}" | tr '\n' ' ')
        [ "${got% }" = "${case#*|}" ] || fail "'velquint ${case%%|*}<Tab>' offers '${got% }', not '${case#*|}'"
    done
}

check_sim_page() {
    local text name
    text=$(page_text velquint-sim)
    "$tmp/tree/usr/bin/velquint-sim" --help | grep -oE '^  --[a-z-]+' | tr -d ' ' >"$tmp/options"
    [ -s "$tmp/options" ] || fail "velquint-sim --help lists no option"
    while read -r name; do
        has_entry "$name" <<<"$text" || fail "velquint-sim(1) lacks $name"
    done <"$tmp/options"
}

# --- 4. the install test -----------------------------------------------------
installed_packages() {
    dpkg-query -W -f='${Package}:${Architecture} ${Status}\n' | awk '$NF == "installed" { print $1 }' | sort
}

# Purges every package that the install test brought onto the machine: the
# four, and whatever apt had to add for them. Once is enough.
purge_installed() {
    [ -s "$tmp/packages-before" ] || return 0
    installed_packages | comm -13 "$tmp/packages-before" - >"$tmp/packages-added"
    if [ -s "$tmp/packages-added" ]; then
        # shellcheck disable=SC2046
        DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq $(cat "$tmp/packages-added") \
            >"$tmp/purge.log" 2>&1 || { echo "apt-get purge failed:"; cat "$tmp/purge.log"; }
    fi
    mv "$tmp/packages-before" "$tmp/packages-before-install"
}

install_packages() {
    local package path
    for package in "${PACKAGES[@]}"; do
        if dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q ' installed$'; then
            fail "$package is installed on this machine already; the install test would remove it"
            return
        fi
    done
    installed_packages >"$tmp/packages-before"
    # What of the packages' paths is on disk before: shared folders such as
    # /usr/bin are, and stay.
    for package in "${PACKAGES[@]}"; do
        while read -r path; do
            [ -e "/$path" ] && echo "/${path%/}"
        done <"$tmp/$package.list"
    done | sort -u >"$tmp/on-disk-before"
    trap 'purge_installed; rm -rf "$tmp"' EXIT
    trap 'exit 130' INT
    trap 'exit 143' TERM
    if ! DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
        "$(deb velquint-tool)" "$(deb velquint)" "$(deb velquint-sim)" "$(deb velquint-common)" \
        >"$tmp/install.log" 2>&1; then
        fail "apt-get install: $(cat "$tmp/install.log")"
    fi
}

check_programs_run() {
    local said package
    said=$(/usr/bin/velquint --version 2>&1) || fail "velquint --version: exit status $?"
    [ "$said" = "velquint $project_version" ] || fail "velquint --version says '$said'"
    said=$(/usr/bin/velquint-sim --help 2>&1) || fail "velquint-sim --help: exit status $?"
    [ "$(head -1 <<<"$said")" = "Usage: velquint-sim [OPTION...]" ] ||
        fail "velquint-sim --help begins '$(head -1 <<<"$said")'"
    for package in "${PACKAGES[@]}"; do
        [[ "$DATA_PACKAGES" == *" $package "* ]] && continue
        [ "$(man -w "$package")" = "/usr/share/man/man1/$package.1.gz" ] ||
            fail "man -w $package finds '$(man -w "$package" 2>&1)'"
    done
}

# The installed window, started by an unprivileged user on Qt's offscreen
# platform, and closed once it is shown: it must end with exit status 0.
check_window() {
    local helper_dir said status
    helper_dir=$(mktemp -d -p "$tmp")
    chmod 755 "$tmp" "$helper_dir"
    cp "$build_dir/tests/packages/libvelquint_close_windows.so" "$helper_dir/" || {
        fail "no velquint_close_windows in $build_dir"
        return
    }
    chmod 644 "$helper_dir/libvelquint_close_windows.so"
    said=$(cd / && setpriv --reuid="$UNPRIVILEGED" --regid="$UNPRIVILEGED" --clear-groups \
        timeout 60 env -i PATH=/usr/bin:/bin HOME=/nonexistent QT_QPA_PLATFORM=offscreen \
        LD_PRELOAD="$helper_dir/libvelquint_close_windows.so" /usr/bin/velquint-tool 2>&1)
    status=$?
    [ "$status" -eq 0 ] || fail "velquint-tool ended with exit status $status: $said"
    grep -qF "closing \"$WINDOW_TITLE$project_version\"" <<<"$said" ||
        fail "no window \"$WINDOW_TITLE$project_version\" was shown: $said"
}

check_completion_installed() {
    [ "$(bash -c 'source /usr/share/bash-completion/completions/velquint && complete -p velquint')" = \
        "complete -F _velquint velquint" ] || fail "the installed completion does not complete velquint"
}

# tshark loads the installed plugin by itself, and the plugin's own tests,
# which load wireshark/velquint.lua with -X, pass while it is installed.
check_wireshark_plugin() {
    env -u XDG_CONFIG_HOME HOME="$tmp" tshark -G protocols >"$tmp/protocols" 2>"$tmp/said"
    grep -qP '^Velquint discovery and setup\t' "$tmp/protocols" ||
        fail "tshark does not load the installed plugin: $(cat "$tmp/said")"
    grep -q 'Lua' "$tmp/said" && fail "tshark: $(cat "$tmp/said")"
    ctest --test-dir "$build_dir" -L wireshark --output-on-failure >"$tmp/ctest.log" 2>&1 ||
        fail "the plugin's tests: $(tail -40 "$tmp/ctest.log")"
    grep -q 'tests passed' "$tmp/ctest.log" || fail "no test of the plugin ran in $build_dir"
}

check_unprivileged_lab() {
    "$source_dir/tests/lab/lab.sh" --devices 1 -- "$here/unprivileged_commands.sh" >"$tmp/lab.log" 2>&1 ||
        fail "$(cat "$tmp/lab.log")"
    sed -n 's/^ok: /    /p' "$tmp/lab.log"
}

check_purged() {
    local package path
    for package in "${PACKAGES[@]}"; do
        dpkg -L "$package" 2>/dev/null
    done | grep -vx '/\.' | sort -u >"$tmp/installed-files"
    [ -s "$tmp/installed-files" ] || fail "dpkg -L lists nothing of the packages"
    purge_installed
    for package in "${PACKAGES[@]}"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'ok installed\|config-files' &&
            fail "$package is still known to dpkg"
        compgen -G "/var/lib/dpkg/info/$package.*" >/dev/null && fail "dpkg keeps files of $package"
    done
    while read -r path; do
        [ -e "$path" ] && ! grep -qxF "$path" "$tmp/on-disk-before" && fail "left on disk: $path"
    done <"$tmp/installed-files"
    installed_packages | comm -13 "$tmp/packages-before-install" - >"$tmp/still-added"
    [ -s "$tmp/still-added" ] && fail "still installed: $(tr '\n' ' ' <"$tmp/still-added")"
}

trap 'rm -rf "$tmp"' EXIT
echo "Checking the packages of version $version in $package_dir"
check "package names, version and contents" check_names_and_contents
check "lintian" check_lintian
check "the firewall profiles, read by ufw's and firewalld's parsers" check_firewall_profiles
check "desktop-file-validate" check_desktop_entry
check "appstreamcli validate --no-net" check_metainfo
check "manual pages without groff or man warnings" check_man_warnings
check "velquint(1) lists every command, option and exit status of --help" check_velquint_page
check "the bash completion offers every command and option of --help" check_completion
check "velquint-sim(1) lists every option of --help" check_sim_page

if [ "$(id -u)" -ne 0 ]; then
    echo "SKIPPED: the install test installs packages and builds a lab, and needs root (running as uid $(id -u))"
else
    exec 9>"$INSTALL_LOCK"
    flock -w 900 9 || fail "another install test holds $INSTALL_LOCK"
    check "apt-get install of the four packages" install_packages
    if [ -s "$tmp/packages-before" ]; then
        check "velquint --version, velquint-sim --help, man -w" check_programs_run
        check "the window starts offscreen as uid $UNPRIVILEGED and closes with 0" check_window
        check "the installed bash completion" check_completion_installed
        check "tshark loads the installed plugin; the plugin's tests pass beside it" check_wireshark_plugin
        check "in a lab, velquint as uid $UNPRIVILEGED: search, setup, set-id, doctor" check_unprivileged_lab
        check "purged, nothing of the packages left" check_purged
    fi
fi

if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed"
    exit 1
fi
echo "the packages passed every check"
