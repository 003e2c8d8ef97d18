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

# The software centre's entry: valid by AppStream's own rules, offline, with
# the menu entry it names found in the same tree, and carrying what a
# software centre shows and filters by.
metainfo=share/metainfo/io.github.kora232.kora232.metainfo.xml
if [ ! -f "$root/$metainfo" ]; then
    fail "$metainfo is missing"
else
    report=$(appstreamcli validate --no-net "$root/$metainfo" 2>&1) ||
        fail "appstreamcli validate rejects $metainfo: $report"
    report=$(appstreamcli validate-tree --no-net "$root" 2>&1) ||
        fail "appstreamcli validate-tree rejects the installed tree: $report"
    for element in '<id>io\.github\.kora232\.kora232</id>' \
        '<launchable type="desktop-id">kora232\.desktop</launchable>' '<summary>' '<description>' \
        '<content_rating' '<project_license>MIT</project_license>' '<metadata_license>' \
        '<url type="homepage">https://github\.com/kora232/kora232</url>' \
        '<screenshot type="default">'; do
        grep -q "$element" "$root/$metainfo" || fail "$metainfo has no $element"
    done
fi

# Launchers and software centres pick the size they need from the theme and
# scale the nearest one when it is missing.
for size in 16 32 48 64 128 256; do
    icon=share/icons/hicolor/${size}x${size}/apps/kora232.png
    if [ ! -f "$root/$icon" ]; then
        fail "$icon is missing"
    else
        kind=$(file -b "$root/$icon")
        [[ $kind == "PNG image data, $size x $size,"* ]] || fail "$icon is not a ${size}x$size PNG: $kind"
    fi
done
icon=share/icons/hicolor/scalable/apps/kora232.svg
if [ ! -f "$root/$icon" ]; then
    fail "$icon is missing"
else
    kind=$(file -b "$root/$icon")
    [[ $kind == "SVG Scalable Vector Graphics image"* ]] || fail "$icon is not an SVG image: $kind"
fi

# The examples the README tells the integrator to copy.
for example in kora232-headless.logrotate kora232-alerts.yml; do
    [ -f "$root/share/doc/kora232/examples/$example" ] || fail "share/doc/kora232/examples/$example is missing"
done
# The bench test plans the manual pages run.
for plan in quick.json full.json; do
    [ -f "$root/share/doc/kora232/plans/$plan" ] || fail "share/doc/kora232/plans/$plan is missing"
done

# Whatever the package puts on PATH has a manual page.
for program in "$root"/bin/*; do
    name=$(basename "$program")
    page=$root/share/man/man1/$name.1.gz
    if [ ! -f "$page" ]; then
        fail "bin/$name has no manual page share/man/man1/$name.1.gz"
    elif ! gzip -t "$page"; then
        fail "share/man/man1/$name.1.gz is not a whole gzip file"
    fi
done

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
    said=$("$root/bin/acceptor-sim" --version 2>&1)
    [ "$said" = "acceptor-sim $version" ] ||
        fail "installed acceptor-sim --version says '$said', expected 'acceptor-sim $version'"
    # grep reads all of it: with -q it would stop at the match, and the help's
    # rest would meet a closed pipe, which pipefail takes for a failure.
    "$root/bin/acceptor-sim" --help 2>&1 | grep '^Usage: acceptor-sim' >/dev/null ||
        fail "installed acceptor-sim --help does not print its usage"
fi

echo "installed:"
(cd "$staging" && find . -type f | sort)
[ "$faults" -eq 0 ] || { echo "$faults fault(s) in the installed layout"; exit 1; }
echo "install layout OK"
