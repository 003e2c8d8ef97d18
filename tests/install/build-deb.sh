#!/usr/bin/env bash
# Usage: build-deb.sh BUILD_DIR OUT_DIR VERSION
# Builds the Debian package of BUILD_DIR into OUT_DIR once, for every check
# of the package that follows.
set -uo pipefail
build=$1 out=$2 version=$3

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
echo "built $deb"
