#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing need, and
# only those that are missing, so a second run costs a few dpkg queries.
#
#   install-deps.sh            what building, running and `make test` need
#   install-deps.sh --windows  that, and the cross build for Windows with wine
#                              to run its tests (`make windows`, `make test-windows`)
#   install-deps.sh --check    all of it, and the tools only `make check` uses
set -euo pipefail

packages=(
    build-essential cmake ninja-build pkg-config ccache
    qt6-base-dev qt6-base-dev-tools libgl-dev
    libgtest-dev libgmock-dev libbenchmark-dev
    libhidapi-dev libcli11-dev nlohmann-json3-dev
    clang libclang-rt-14-dev
    iproute2 procps time
    jq  # the command-line lab tests read JSON Lines with it
    nftables  # nft: the doctor reads rulesets, its lab test makes one in a lab namespace
    libx11-dev libxcb1-dev libxtst-dev
    xvfb xauth x11-utils imagemagick xdotool
    fonts-dejavu-core
)

# Tools of the checks that run in `make check` only: the Wireshark plugin's
# tests (tshark brings text2pcap and dumpcap along), and the checks of the
# Debian packages (lintian, desktop-file-validate, appstreamcli, and
# dpkg-shlibdeps for the packages' library dependencies; ufw's and firewalld's
# own parsers for the firewall profiles). ufw stays disabled as it installs,
# and python3-firewall is firewalld's library without its daemon: neither
# touches this machine's firewall.
check_packages=(
    tshark
    lintian desktop-file-utils appstream dpkg-dev
    ufw python3-firewall
)

# The Windows build: mingw-w64 with the posix thread model (std::thread),
# 64-bit wine for its tests, GoogleTest's sources to build for it, and groff
# for the Windows package's manual as text.
windows_packages=(
    g++-mingw-w64-x86-64-posix wine64 googletest groff-base
)

case "${1:-}" in
    "") ;;
    --windows) packages+=("${windows_packages[@]}") ;;
    --check) packages+=("${windows_packages[@]}" "${check_packages[@]}") ;;
    *)
        echo "usage: install-deps.sh [--windows | --check]" >&2
        exit 2
        ;;
esac

# One dpkg query for the whole list: the plain call stays well under a second.
# dpkg-query fails when it has never heard of a package; its output still
# names the others.
installed=" $({ dpkg-query -W -f='${Package} ${Status}\n' "${packages[@]}" 2>/dev/null || true; } |
    awk '$2 == "install" && $3 == "ok" && $4 == "installed" { printf "%s ", $1 }')"
missing=()
for p in "${packages[@]}"; do
    case "$installed" in *" $p "*) ;; *) missing+=("$p") ;; esac
done

[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
    echo "missing packages: ${missing[*]} (run as root, or install them with apt-get)" >&2
    exit 1
fi
echo "installing: ${missing[*]}"
# Non-interactive also answers wireshark-common's question about capturing as
# a user other than root with its default (no).
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}"
