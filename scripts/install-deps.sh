#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing need, and
# only those that are missing, so a second run costs one dpkg query.
set -euo pipefail

packages=(
    build-essential cmake ninja-build pkg-config ccache
    qt6-base-dev qt6-base-dev-tools libgl-dev
    libgtest-dev libgmock-dev libbenchmark-dev
    libhidapi-dev
    clang libclang-rt-14-dev
    iproute2 procps time
    libx11-dev libxtst-dev
    xvfb xauth x11-utils imagemagick xdotool
    fonts-dejavu-core
)

# One query for all of them: every make target runs this first. dpkg-query
# fails when it knows a package not at all, which only makes it missing.
installed=" $({ dpkg-query -W -f='${Package} ${Status}\n' "${packages[@]}" 2>/dev/null || true; } |
    awk '/ install ok installed$/ { printf "%s ", $1 }')"
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
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}"
