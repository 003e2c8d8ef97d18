#!/usr/bin/env bash
# Usage: check-deb.sh BUILD_DIR OUT_DIR VERSION
# Builds the Debian package of BUILD_DIR into OUT_DIR and checks that it
# declares the libraries and the font the programs load, and carries the
# installed layout. Names every fault it finds and fails if there is one.
set -uo pipefail
build=$1 out=$2 version=$3
faults=0

fail() {
    echo "FAIL: $*"
    faults=$((faults + 1))
}

rm -rf "$out"
if ! "${CPACK:-cpack}" --config "$build/CPackConfig.cmake" -B "$out"; then
    echo "FAIL: cpack did not build the package (is the whole build done?)"
    exit 1
fi
deb=$out/kora232_${version}_$(dpkg --print-architecture).deb
if [ ! -f "$deb" ]; then
    echo "FAIL: no $(basename "$deb") in $out; found: $(ls "$out")"
    exit 1
fi

dpkg-deb -I "$deb"
[ "$(dpkg-deb -f "$deb" Package)" = kora232 ] || fail "the package is not named kora232"
[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "the package version is not $version"
[ "$(dpkg-deb -f "$deb" Section)" = electronics ] || fail "the section is not electronics"
depends=$(dpkg-deb -f "$deb" Depends)
for needed in libqt6core6 libqt6gui6 libqt6widgets6 libqt6serialport6 libstdc++6 libc6 \
    fonts-liberation2; do
    [[ ", $depends," == *", $needed "* || ", $depends," == *", $needed,"* ]] ||
        fail "Depends does not name $needed: $depends"
done

contents=$(dpkg-deb -c "$deb")
for path in usr/bin/kora232 usr/bin/kora232-headless usr/bin/acceptor-sim \
    usr/share/applications/kora232.desktop usr/share/icons/hicolor/32x32/apps/kora232.png; do
    grep -q " \./$path\$" <<<"$contents" || fail "the package does not carry /$path"
done

unpacked=$out/unpacked
dpkg-deb -x "$deb" "$unpacked"
for program in kora232 kora232-headless acceptor-sim; do
    kind=$(file -b "$unpacked/usr/bin/$program")
    [[ $kind == *", stripped"* ]] || fail "/usr/bin/$program in the package is not stripped: $kind"
done

[ "$faults" -eq 0 ] || { echo "$faults fault(s) in the package"; exit 1; }
echo "package $(basename "$deb") OK"
