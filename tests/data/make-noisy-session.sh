#!/bin/sh
# Remakes noisy-session.csv: kora232-headless polls acceptor-sim every 250 ms for 60 s
# while bills go in through noise, spoiled checksums, a late reply and a 3 s unplug,
# with a rejected bill, a stacked report that stays up, a jam that catches a bill, a cheat and a
# jam between bills.
# Replayed by a poller at 100 ms it takes well under those 60 s.
# Usage: tests/data/make-noisy-session.sh [BUILD_DIR]   (default build/ci)
set -eu
bin=${1:-build/ci}
out=$(dirname "$0")/noisy-session.csv
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
"$bin/sim/acceptor-sim" --link "$tmp/acceptor" --step 200ms --run "wait 1s; noise 24 every 7; \
insert 3; wait 3s; insert 5; wait 2s; corrupt 3; insert 1; wait 4s; insert 7; wait 3s; \
late 600 1; wait 2s; insert 2; wait 3s; corrupt 2; wait 2s; unplug 3s; wait 5s; insert 4; \
wait 3s; corrupt 4; reject 6; insert 6; wait 3s; sticky 2; insert 3; insert 3; wait 4s; \
noise 40 every 3; insert 5; wait 3s; insert 1; wait 400ms; jam; wait 2s; clear; wait 1s; \
cheat; corrupt 1; insert 1; wait 3s; noise 24 every 7; insert 7; wait 3s; jam; wait 1s; clear; \
insert 2" \
    >"$tmp/sim.out" &
sim=$!
until [ -s "$tmp/sim.out" ]; do sleep 0.1; done
rm -f "$out"
"$bin/src/app/kora232-headless" --port "1=$tmp/acceptor" --poll-rate 250 --duration 60 --log "$out" >/dev/null
kill -TERM "$sim" && wait "$sim" || true
grep '^tally' "$tmp/sim.out"
