#!/bin/sh
# kora232 --report on a large session log: time and peak memory. The log is
# the committed noisy session's poll rows, over and over at 250 ms apart, in
# one session of SIZE_MIB (default 1024).
# Needs GNU time (Debian package time).
# Usage: bench/report-big-log.sh [BUILD_DIR] [SIZE_MIB]   (default build/ci 1024)
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
    print stamp(poll * 250 + 100) ",stop," poll ",,,,,,\"end of the big log\""
}' tests/data/noisy-session.csv >"$log"
echo "log: $(du -m "$log" | cut -f1) MiB, $(($(wc -l <"$log") - 3)) poll rows"
/usr/bin/time -f "report: %e s elapsed, %M KiB peak memory" \
    "$bin/src/app/kora232" --report "$log" "$work/big.pdf"
echo "pdf: $(du -k "$work/big.pdf" | cut -f1) KiB"
