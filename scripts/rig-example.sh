#!/usr/bin/env bash
# A test rig in a shell script: the simulated acceptor takes five bills with
# line faults between them, kora232-headless polls it for 20 s with no
# display, and jq counts the stacked bills from its JSON lines and checks
# them against the acceptor's own tally. Builds the two programs first.
#
#   scripts/rig-example.sh      (needs jq: apt-get install jq)
set -euo pipefail
cd "$(dirname "$0")/.."
command -v jq >/dev/null || { echo "rig-example: needs jq (apt-get install jq)" >&2; exit 1; }
scripts/setup.sh
cmake --preset default >/dev/null
cmake --build --preset default --target kora232-headless acceptor-sim >/dev/null
bin=build/default

rig=$(mktemp -d -t kora232-rig.XXXXXX)
trap 'kill "$sim" 2>/dev/null; wait; rm -rf "$rig"' EXIT

# The acceptor's scenario: bills, a silent line, corrupt replies, a line that
# goes away for two seconds. It prints the device on its first line and its
# tally when it stops.
printf '%s\n' 'wait 1s' 'insert 3' 'wait 2s' 'insert 5' 'silent 1s' 'wait 2s' 'insert 1' \
    'corrupt 3' 'wait 2s' 'insert 3' 'wait 2s' 'unplug 2s' 'wait 3s' 'insert 7' >"$rig/scenario"
"$bin/sim/acceptor-sim" --link "$rig/acceptor" --scenario "$rig/scenario" >"$rig/sim.out" &
sim=$!
until [ -s "$rig/sim.out" ]; do sleep 0.1; done

# One JSON object per line; the stacked bills as they come.
"$bin/src/app/kora232-headless" --port "1=$rig/acceptor" --duration 20 |
    tee "$rig/events.jsonl" |
    jq -r --unbuffered 'select(.event == "stacked") | "bill \(.bill): \(.count), total \(.total)"'

kill -TERM "$sim" && wait "$sim" || true
counted=$(jq -rs 'map(select(.event == "stacked")) as $s
    | [range(1; 8) as $b | "bill\($b)=\($s | map(select(.bill == $b)) | length)"]
    + ["total=\($s | length)"] | join(" ")' "$rig/events.jsonl")
tally=$(sed -n 's/^tally: //p' "$rig/sim.out")
echo "kora232-headless: $counted"
echo "acceptor-sim:     $tally"
[ "$counted" = "$tally" ] || { echo "the counts differ" >&2; exit 1; }
echo "the counts match"
