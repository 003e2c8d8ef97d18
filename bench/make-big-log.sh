#!/bin/sh
# Writes a session log of SIZE_MIB to OUT: the committed noisy session's start
# row, then its poll rows over and over at 250 ms apart, in one session; with
# "stop", a stop row ends it. The big-log benches read it.
# Usage: bench/make-big-log.sh SIZE_MIB OUT [stop]
set -eu
awk -F, -v limit=$(($1 * 1048576)) -v stop="${3:-}" '
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
    if (stop != "")
        print stamp(poll * 250 + 100) ",stop," poll ",,,,,,\"end of the big log\""
}' "$(dirname "$0")/../tests/data/noisy-session.csv" >"$2"
