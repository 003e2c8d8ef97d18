#!/bin/sh
# What a restarting poller pays to read its log when the last start row is
# far back: a log of SIZE_MIB (default 1024) in one session, its start row
# first and nothing but poll rows after it (the committed noisy session's, at
# 250 ms), then the same log with a start row in its last rows. Times are
# with the log in the page cache, as it is right after the poller's own
# writes; a cold disk adds its read time.
# Usage: bench/restart-big-log.sh [BUILD_DIR] [SIZE_MIB]   (default build/ci 1024)
set -eu
bin=${1:-build/ci}
mib=${2:-1024}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
log=$work/big.csv
"$(dirname "$0")/make-big-log.sh" "$mib" "$log"
device=$(sed -n '2s/.*port 1 (\([^)]*\)).*/\1/p' "$log")
echo "log: $(du -m "$log" | cut -f1) MiB, its only start row on line 2"
"$bin/bench/bench_logtail" "$log" "$device"
sed -n 2p "$log" >>"$log"
echo "the same with a start row at its end:"
"$bin/bench/bench_logtail" "$log" "$device"
