#!/usr/bin/env bash
# Installs the Debian packages Roamnode needs to build, test and run.
# Checks first and calls apt-get only for what is missing, so a second run
# returns at once. Safe to run any number of times. Needs root (or sudo).
set -euo pipefail

packages=(
    build-essential cmake pkg-config
    clang libclang-rt-dev llvm clang-format
    qtbase5-dev qtdeclarative5-dev
    qml-module-qtquick2 qml-module-qtquick-controls qml-module-qtquick-layouts
    qml-module-qtquick-window2 qml-module-qtquick-localstorage qml-module-qttest
    libqt5sql5-sqlite libqt5sql5-psql postgresql
    libboost-system-dev
    libjsoncpp-dev
    libnl-3-dev libnl-genl-3-dev
    libssl-dev openssl
    libgtest-dev libgmock-dev
    libbenchmark-dev
    fonts-open-sans
    xvfb xdotool imagemagick x11-utils
    python3 python3-prometheus-client
    iperf3
    chromium
    debootstrap systemd dpkg-dev
)

missing=()
for p in "${packages[@]}"; do
    status=$(dpkg-query -W -f='${db:Status-Status}' "$p" 2>/dev/null || true)
    [ "$status" = "installed" ] || missing+=("$p")
done

if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

echo "Installing: ${missing[*]}"
sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
    sudo_cmd=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
