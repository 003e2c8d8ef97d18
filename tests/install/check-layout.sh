#!/usr/bin/env bash
# Usage: check-layout.sh BUILD_DIR STAGING_DIR VERSION
# Installs BUILD_DIR under STAGING_DIR with prefix /usr, as the .deb does, and
# checks the layout. Names every fault it finds and fails if there is one.
set -uo pipefail
build=$1 staging=$2 version=$3
root=$staging/usr
faults=0

fail() {
    echo "FAIL: $*"
    faults=$((faults + 1))
}

rm -rf "$staging"
if ! DESTDIR=$staging "${CMAKE:-cmake}" --install "$build" --prefix /usr; then
    echo "FAIL: cmake --install $build did not finish (is the whole build done?)"
    exit 1
fi

for program in kora232 kora232-headless acceptor-sim; do
    if [ ! -f "$root/bin/$program" ] || [ ! -x "$root/bin/$program" ]; then
        fail "bin/$program is missing or not executable"
    elif paths=$(readelf -d "$root/bin/$program" | grep -E 'R(UN)?PATH'); then
        fail "bin/$program keeps a library search path: $paths"
    fi
done

desktop=$root/share/applications/kora232.desktop
if [ ! -f "$desktop" ]; then
    fail "share/applications/kora232.desktop is missing"
elif ! report=$(desktop-file-validate "$desktop" 2>&1) || [ -n "$report" ]; then
    fail "desktop-file-validate rejects the menu entry: $report"
fi

icon=$root/share/icons/hicolor/32x32/apps/kora232.png
if [ ! -f "$icon" ]; then
    fail "share/icons/hicolor/32x32/apps/kora232.png is missing"
else
    kind=$(file -b "$icon")
    [[ $kind == "PNG image data, 32 x 32,"* ]] || fail "the icon is not a 32x32 PNG: $kind"
fi

if [ -x "$root/bin/kora232" ]; then
    said=$("$root/bin/kora232" --version 2>&1)
    [ "$said" = "kora232 $version" ] ||
        fail "installed kora232 --version says '$said', expected 'kora232 $version'"
fi
if [ -x "$root/bin/kora232-headless" ]; then
    said=$("$root/bin/kora232-headless" --version 2>&1)
    [ "$said" = "kora232-headless $version" ] ||
        fail "installed kora232-headless --version says '$said', expected 'kora232-headless $version'"
    # Runs where there is no display: Qt Core and Qt SerialPort, nothing of the GUI.
    gui=$(readelf -d "$root/bin/kora232-headless" | grep -E 'NEEDED.*libQt6(Gui|Widgets)') &&
        fail "bin/kora232-headless links the GUI: $gui"
fi
if [ -x "$root/bin/acceptor-sim" ]; then
    "$root/bin/acceptor-sim" --help 2>&1 | grep -q '^Usage: acceptor-sim' ||
        fail "installed acceptor-sim --help does not print its usage"
fi

echo "installed:"
(cd "$staging" && find . -type f | sort)
[ "$faults" -eq 0 ] || { echo "$faults fault(s) in the installed layout"; exit 1; }
echo "install layout OK"
