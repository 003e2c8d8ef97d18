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
awk -F, -v limit=$((mib * 1048576)) '
function stamp(ms,   s, d) {
    s = int(ms / 1000); d = int(s / 86400); s -= d * 86400
    return sprintf("2026-%02d-%02dT%02d:%02d:%02d.%03d+00:00", 1 + int(d / 28), 1 + d % 28,
                   int(s / 3600), int(s / 60) % 60, s % 60, ms % 1000)
}
NR == 1 { print; bytes += length($0) + 1; next }
$2 == "start" { start = $0; sub(/^[^,]*/, "", start); print stamp(0) start; next }
$2 == "poll" { rows[++n] = $0 }
END {
    for (i = 1; bytes < limit; i = i % n + 1) {
        row = rows[i]; sub(/^[^,]*,poll,[0-9]*/, "", row)
        ++poll; line = stamp(poll * 250) ",poll," poll row
        print line; bytes += length(line) + 1
    }
}' tests/data/noisy-session.csv >"$log"
device=$(sed -n '2s/.*port 1 (\([^)]*\)).*/\1/p' "$log")
echo "log: $(du -m "$log" | cut -f1) MiB, its only start row on line 2"
"$bin/bench/bench_logtail" "$log" "$device"
sed -n 2p "$log" >>"$log"
echo "the same with a start row at its end:"
"$bin/bench/bench_logtail" "$log" "$device"
