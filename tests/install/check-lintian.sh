#!/usr/bin/env bash
# Usage: check-lintian.sh DEB
# Has lintian, Debian's own package checker, judge the package DEB (built by
# build-deb.sh) by its exit status: any error or warning
# fails, as either would keep the package from shipping. Its informational
# tags are shown and not judged.
set -uo pipefail
deb=$1

if ! command -v lintian >/dev/null; then
    echo "FAIL: lintian is not installed (scripts/setup.sh installs it)"
    exit 1
fi
if [ ! -f "$deb" ]; then
    echo "FAIL: no package $deb"
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
