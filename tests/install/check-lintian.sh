#!/usr/bin/env bash
# Usage: check-lintian.sh BUILD_DIR OUT_DIR VERSION
# Builds the Debian package of BUILD_DIR into OUT_DIR and has lintian, Debian's
# own package checker, judge it by its exit status: any error or warning
# fails, as either would keep the package from shipping. Its informational
# tags are shown and not judged.
set -uo pipefail
build=$1 out=$2 version=$3

if ! command -v lintian >/dev/null; then
    echo "FAIL: lintian is not installed (scripts/setup.sh installs it)"
    exit 1
fi
rm -rf "$out"
if ! "${CPACK:-cpack}" --config "$build/CPackConfig.cmake" -B "$out" >/dev/null; then
    echo "FAIL: cpack did not build the package (is the whole build done?)"
    exit 1
fi
deb=$out/kora232_${version}_$(dpkg --print-architecture).deb
if [ ! -f "$deb" ]; then
    echo "FAIL: no $(basename "$deb") in $out; found: $(ls "$out")"
    exit 1
fi

lintian --version
lintian --fail-on error,warning --display-info --color never "$deb"
status=$?
if [ "$status" -ne 0 ]; then
    echo "FAIL: lintian finds errors or warnings in $(basename "$deb") (exit status $status)"
    exit 1
fi
echo "lintian: $(basename "$deb") has no errors and no warnings"
