#!/usr/bin/env bash
# Installs, on Debian 12 as root, whatever the build, the tests and the demo
# need that this machine lacks. Quiet and quick when nothing is missing.
set -euo pipefail

packages=(
    cmake ninja-build g++ pkgconf          # build
    qt6-base-dev qt6-serialport-dev libgl-dev  # Qt Widgets and Qt SerialPort
    fonts-liberation2                     # the sans-serif that stands in for MS Sans Serif
    xvfb xauth                            # a display for the demo on a headless machine
    clang libclang-rt-14-dev              # libFuzzer and the sanitizer runtimes
    desktop-file-utils dpkg-dev file      # install checks and the .deb package
    scdoc                                 # the manual pages, from docs/*.scd
    appstream lintian                     # checks of the metainfo and of the .deb
)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
    echo "setup: missing packages: ${missing[*]}; run as root (or: sudo apt-get install ${missing[*]})" >&2
    exit 1
fi
echo "setup: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
