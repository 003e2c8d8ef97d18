#!/bin/sh
# kora232 --report on a large session log: time and peak memory, beside
# `wc -l` on the same file, which reads it at the speed of the disk and the
# page cache; each the median of RUNS (default 3), and their ratio. The log
# is the committed noisy session's poll rows, over and over at 250 ms apart,
# in one session of SIZE_MIB (default 1024).
# Needs GNU time (Debian package time).
# Usage: bench/report-big-log.sh [BUILD_DIR] [SIZE_MIB] [RUNS]   (default build/ci 1024 3)
set -eu
bin=${1:-build/ci}
mib=${2:-1024}
runs=${3:-3}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
log=$work/big.csv
"$(dirname "$0")/make-big-log.sh" "$mib" "$log" stop
echo "log: $(du -m "$log" | cut -f1) MiB, $(($(wc -l <"$log") - 3)) poll rows"
# The median of a column of numbers.
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
wc -l <"$log" >/dev/null # the file in the page cache for both
i=0
while [ "$i" -lt "$runs" ]; do
    /usr/bin/time -f "%e" -o "$work/wc.$i" wc -l "$log" >/dev/null
    /usr/bin/time -f "%e %M" -o "$work/report.$i" \
        "$bin/src/app/kora232" --report "$log" "$work/big.pdf" >/dev/null
    i=$((i + 1))
done
wc_s=$(cat "$work"/wc.* | median)
report_s=$(cut -d' ' -f1 "$work"/report.* | median)
peak=$(cut -d' ' -f2 "$work"/report.* | sort -n | tail -n 1)
echo "wc -l: $wc_s s (median of $runs)"
echo "report: $report_s s (median of $runs), $peak KiB peak memory"
echo "report / wc -l: $(awk -v r="$report_s" -v w="$wc_s" 'BEGIN { printf "%.1f", (w > 0 ? r / w : 0) }')"
echo "pdf: $(du -k "$work/big.pdf" | cut -f1) KiB"
