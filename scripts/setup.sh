#!/usr/bin/env bash
# Installs, on Debian 12 as root, what the commands named need that this
# machine lacks. Quiet and quick when nothing is missing.
#
#   scripts/setup.sh run     build the programs and run the window (scripts/run.sh)
#   scripts/setup.sh rig     build the programs and run scripts/rig-example.sh
#   scripts/setup.sh package build the programs and their .deb (cmake --workflow --preset package)
#   scripts/setup.sh test    everything: the suite, the fuzzer, the package checks
#   scripts/setup.sh         the same as test
set -euo pipefail

build=(
    cmake ninja-build g++ pkgconf          # build
    qt6-base-dev qt6-serialport-dev libgl-dev  # Qt Widgets and Qt SerialPort
    zlib1g-dev                            # reads rotated logs that logrotate compressed
    scdoc                                 # the manual pages, from docs/*.scd
)
run=(
    fonts-liberation2                     # the sans-serif that stands in for MS Sans Serif
    xvfb xauth                            # a display for the demo on a headless machine
)
rig=(
    jq                                    # reads kora232-headless's JSON lines
)
package=(
    dpkg-dev file                         # CPack's .deb: dpkg-shlibdeps finds the libraries
)
test=(
    clang libclang-rt-14-dev              # libFuzzer and the sanitizer runtimes
    lld                                   # the ci and asan presets link with it
    desktop-file-utils                    # the menu entry checked
    appstream lintian                     # checks of the metainfo and of the .deb
    g++-mingw-w64-x86-64-posix            # the wire and the record compiled for Windows, syntax only
    prometheus systemd                    # promtool on the metrics, systemd-analyze on the unit
    poppler-utils                         # pdftotext and pdftoppm read the reports back
    logrotate strace                      # the shipped rotation on a live log; its syncs seen
    faketime                              # a wall clock stepped under a running poller
)

packages=()
for group in "${@:-test}"; do
    case $group in
    run) packages+=("${build[@]}" "${run[@]}") ;;
    rig) packages+=("${build[@]}" "${rig[@]}") ;;
    package) packages+=("${build[@]}" "${package[@]}") ;;
    test) packages+=("${build[@]}" "${run[@]}" "${rig[@]}" "${package[@]}" "${test[@]}") ;;
    *)
        echo "setup: no group '$group'; the groups are run, rig, package and test" >&2
        exit 2
        ;;
    esac
done

missing=()
for p in "${packages[@]}"; do
    [[ " ${missing[*]} " == *" $p "* ]] && continue
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
