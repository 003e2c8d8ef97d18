#!/bin/sh
# Remakes the pictures of the link statistics window, the History window and
# the monitor's menu (kora232-statistics.png, kora232-history.png,
# kora232-menu.png beside this script): kora232 polls acceptor-sim with no
# display for 40 s while bills go in through noise, spoiled checksums, silences,
# slow replies, a rejected bill, a jam, a cheat and an unplug, ending with a bill
# through a spoiled checksum and a silence, and leaves the pictures with --show.
# Also the first page of the committed noisy session's report
# (kora232-report.png), at 80 dots an inch (pdftoppm, from poppler-utils).
# The Bills table's picture comes from the test that plays the bench scenario
# (tst_benchwindow leaves kora232-bills.png beside it).
# Usage: docs/make-pictures.sh [BUILD_DIR]   (default build/ci)
set -eu
bin=${1:-build/ci}
docs=$(dirname "$0")
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
"$bin/sim/acceptor-sim" --link "$tmp/acceptor" --step 200ms --run "wait 1500ms; insert 3; \
wait 2s; insert 5; wait 2s; corrupt 3; insert 1; wait 2s; reject 6; insert 6; wait 2s; \
reject off; late 120 3; insert 2; wait 2s; silent 1s; wait 2s; insert 7; wait 2s; jam; \
wait 1500ms; clear; wait 1s; insert 4; wait 2s; unplug 3s; wait 5s; insert 3; wait 2s; cheat; \
wait 1s; noise 24 every 7; insert 5; wait 2s; noise off; insert 1; wait 8300ms; corrupt 1; \
insert 3; wait 100ms; deaf 1; wait 500ms; corrupt 1" >"$tmp/sim.out" &
sim=$!
until [ -s "$tmp/sim.out" ]; do sleep 0.1; done
QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-$tmp} "$bin/src/app/kora232" \
    --port "1=$tmp/acceptor" --start --quit-after 40000 --screenshot "$tmp/shot.png" \
    --show statistics --show history --show menu 2>"$tmp/kora232.err" ||
    { cat "$tmp/kora232.err" >&2; exit 1; }
kill -TERM "$sim" && wait "$sim" || true
for name in statistics history menu; do
    cp "$tmp/shot-$name.png" "$docs/kora232-$name.png"
done
grep '^tally' "$tmp/sim.out"

QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-$tmp} "$bin/src/app/kora232" \
    --report "$docs/../tests/data/noisy-session.csv" "$tmp/report.pdf" >/dev/null
pdftoppm -r 80 -f 1 -l 1 -singlefile -png "$tmp/report.pdf" "$tmp/report"
cp "$tmp/report.png" "$docs/kora232-report.png"
