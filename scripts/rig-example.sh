#!/usr/bin/env bash
# A test rig in a shell script: the simulated acceptor takes five bills with
# line faults between them, kora232-headless polls it for 20 s with no
# display, and jq counts the stacked bills from its JSON lines and checks
# them against the acceptor's own tally.
#
#   scripts/rig-example.sh              installs what is missing, builds the
#                                       two programs in build/default, runs
#   scripts/rig-example.sh BUILD_DIR    runs the programs already built there
#
# Exit status 0 when the counts match and bills were counted, 1 otherwise.
set -euo pipefail
given=$([ $# -eq 0 ] || realpath -m -- "$1")
cd "$(dirname "$0")/.."

fail() {
    echo "rig-example: $*" >&2
    exit 1
}

if [ -n "$given" ]; then
    bin=$given
else
    scripts/setup.sh rig
    cmake --preset default >/dev/null
    cmake --build --preset default --target kora232-headless acceptor-sim >/dev/null
    bin=build/default
fi
command -v jq >/dev/null || fail "needs jq (apt-get install jq)"
for program in sim/acceptor-sim src/app/kora232-headless; do
    [ -x "$bin/$program" ] || fail "no $bin/$program: build it first"
done

rig=$(mktemp -d -t kora232-rig.XXXXXX)
sim=
cleanup() {
    # The simulator has usually ended by now; a failed kill must not keep
    # the folder from going.
    [ -z "$sim" ] || kill -TERM "$sim" 2>/dev/null || true
    wait 2>/dev/null || true
    rm -rf "$rig"
}
trap cleanup EXIT

# The acceptor's scenario: bills, a silent line, corrupt replies, a line that
# goes away for two seconds. It prints the device on its first line and its
# tally when it stops.
printf '%s\n' 'wait 1s' 'insert 3' 'wait 2s' 'insert 5' 'silent 1s' 'wait 2s' 'insert 1' \
    'corrupt 3' 'wait 2s' 'insert 3' 'wait 2s' 'unplug 2s' 'wait 3s' 'insert 7' >"$rig/scenario"
"$bin/sim/acceptor-sim" --link "$rig/acceptor" --scenario "$rig/scenario" >"$rig/sim.out" &
sim=$!
until [ -s "$rig/sim.out" ]; do
    kill -0 "$sim" 2>/dev/null || fail "the simulator ended before it was ready"
    sleep 0.1
done

# One JSON object per line; the stacked bills as they come.
"$bin/src/app/kora232-headless" --port "1=$rig/acceptor" --duration 20 |
    tee "$rig/events.jsonl" |
    jq -r --unbuffered 'select(.event == "stacked") | "bill \(.bill): \(.count), total \(.total)"' ||
    fail "kora232-headless or jq failed"

# The simulator prints its tally as it stops.
kill -TERM "$sim" 2>/dev/null || true
wait "$sim" || true
sim=
counted=$(jq -rs 'map(select(.event == "stacked")) as $s
    | [range(1; 8) as $b | "bill\($b)=\($s | map(select(.bill == $b)) | length)"]
    + ["total=\($s | length)"] | join(" ")' "$rig/events.jsonl")
tally=$(sed -n 's/^tally: //p' "$rig/sim.out")
echo "kora232-headless: $counted"
echo "acceptor-sim:     $tally"
[ "${counted##*total=}" != 0 ] || fail "nothing was counted"
[ "$counted" = "$tally" ] || fail "the counts differ"
echo "the counts match"
