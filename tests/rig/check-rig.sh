#!/usr/bin/env bash
# Usage: check-rig.sh CASE SOURCE_DIR BUILD_DIR WORK_DIR
# Runs SOURCE_DIR/scripts/rig-example.sh on the programs of BUILD_DIR, or on
# a poller that lets it down, and checks its exit status, what it says and
# that it leaves nothing in its temporary folder. Builds nothing. Cases:
#   passes-when-the-counts-match   the real poller: the counts match, status 0
#   fails-when-nothing-is-counted  a poller that writes no line: both tallies zero
#   fails-when-the-counts-differ   a poller that tells of a bill never taken
#   fails-without-the-poller       no kora232-headless in the build folder
set -uo pipefail
case=$1 source=$2 build=$3 work=$4

rm -rf "$work"
mkdir -p "$work/tmp" "$work/bin/sim" "$work/bin/src/app"
ln -s "$build/sim/acceptor-sim" "$work/bin/sim/acceptor-sim"
poller=$work/bin/src/app/kora232-headless
stub() {
    printf '#!/bin/sh\n%s\n' "$1" >"$poller"
    chmod +x "$poller"
}

bin=$work/bin expected_status=1
case $case in
passes-when-the-counts-match) bin=$build expected_status=0 said="the counts match" ;;
fails-when-nothing-is-counted)
    stub 'exit 0'
    said="nothing was counted"
    ;;
fails-when-the-counts-differ)
    stub "echo '{\"t\":\"\",\"event\":\"stacked\",\"bill\":3,\"count\":1,\"total\":1}'"
    said="the counts differ"
    ;;
fails-without-the-poller) said="no $poller" ;;
*)
    echo "FAIL: no case '$case'"
    exit 1
    ;;
esac

output=$(TMPDIR=$work/tmp bash "$source/scripts/rig-example.sh" "$bin" 2>&1)
status=$?
echo "$output"
faults=0
fail() {
    echo "FAIL: $*"
    faults=$((faults + 1))
}
[ "$status" -eq "$expected_status" ] ||
    fail "rig-example.sh ended with status $status, expected $expected_status"
grep -qF -- "$said" <<<"$output" || fail "rig-example.sh did not say '$said'"
left=$(ls -A "$work/tmp")
[ -z "$left" ] || fail "rig-example.sh left behind in its temporary folder: $left"
[ "$faults" -eq 0 ] || exit 1
echo "rig-example.sh, $case: status $status, as expected"
