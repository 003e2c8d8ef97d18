#!/usr/bin/env bash
# What syncing each exchange of a bill's cycle costs: kora232-headless polls
# acceptor-sim at 100 ms with its log on the disk under the build folder and,
# for comparison, on tmpfs (/dev/shm, where a sync writes nothing), first
# idle, then through BILLS bills. Prints the syncs (strace) and their time,
# the polls held for a sync (a poll that repeats the bit after an answered
# one), each run's median bill cycle from its stop row, and the syncs a day
# that 500 bills at 100 ms make.
#
#   bench/bill-syncs.sh [BILLS] [BUILD]   (default 20, build/ci)
set -euo pipefail
cd "$(dirname "$0")/.."
bills=${1:-20}
bin=${2:-build/ci}
headless="$bin/src/app/kora232-headless"
sim="$bin/sim/acceptor-sim"
command -v strace >/dev/null || { echo "strace is missing" >&2; exit 1; }
disk=$(mktemp -d -p "$PWD/$bin" kora232-syncs.XXXXXX)
shm=$(mktemp -d -p /dev/shm kora232-syncs.XXXXXX)
trap 'rm -rf "$disk" "$shm"' EXIT

# run FOLDER NAME SECONDS SCRIPT [more options]: one poller under strace.
run() {
    local dir=$1 name=$2 seconds=$3 script=$4
    shift 4
    "$sim" --link "$dir/$name.tty" --run "$script" >"$dir/$name.sim" 2>&1 &
    local simpid=$!
    sleep 0.3
    strace -f -ttt -T -e trace=fdatasync -o "$dir/$name.trace" "$headless" --port "1=$dir/$name.tty" \
        --poll-rate 100 --log "$dir/$name.csv" --duration "$seconds" "$@" >"$dir/$name.out" 2>&1 ||
        { cat "$dir/$name.out" >&2; exit 1; }
    kill -TERM "$simpid"
    wait "$simpid" 2>/dev/null || true
}

# Syncs of the log in a trace, and their median time in ms.
syncs() { grep -c 'fdatasync(' "$1"; }
syncMs() {
    grep -o 'fdatasync(.*<[0-9.]*>' "$1" | sed 's/.*<\([0-9.]*\)>/\1/' | sort -n |
        awk '{ v[NR] = $1 } END { printf "%.2f", NR ? 1000 * v[int((NR + 1) / 2)] : 0 }'
}
# Polls that repeat the bit of an answered poll before them: held for the log.
held() {
    awk -F, '$2 == "poll" { bit = substr($5, 8, 1) % 2;
        if (good && bit == last) n++; good = ($4 == "good"); last = bit } END { print n + 0 }' "$1"
}
cycleMedian() { grep -o 'cycle_median_ms [0-9.]*' "$1" | tail -n 1 | cut -d ' ' -f 2; }
polls() { grep -c ',poll,' "$1"; }

inserts=""
for ((i = 0; i < bills; i++)); do inserts="$inserts; insert $((i % 7 + 1))"; done
for where in disk shm; do
    dir=${!where}
    run "$dir" idle 30 "wait 1s"
    run "$dir" bills 120 "wait 1s$inserts" --until-bills "$bills"
done

# The idle rhythm: syncs after the first 2 s (the start row, the power-up
# frames) and before the stop row's.
idleRate=$(grep 'fdatasync(' "$disk/idle.trace" | awk '{ t[NR] = $2 } END {
    for (i = 2; i < NR; i++) if (t[i] > t[1] + 2) n++; printf "%.3f", n / (t[NR] - t[1] - 2) }')
billSeconds=$(grep 'fdatasync(' "$disk/bills.trace" | awk '{ t[NR] = $2 } END {
    printf "%.1f", t[NR] - t[1] }')
perBill=$(awk -v s="$(syncs "$disk/bills.trace")" -v r="$idleRate" -v t="$billSeconds" -v b="$bills" \
    'BEGIN { x = (s - r * t - 2) / b; printf "%.1f", x < 0 ? 0 : x }')
echo "Log on the disk under $bin ($(df --output=fstype "$bin" | tail -n 1)), kora232-headless at 100 ms:"
echo "  idle 30 s: $(syncs "$disk/idle.trace") syncs ($idleRate a second), median $(syncMs "$disk/idle.trace") ms each"
echo "  $bills bills in ${billSeconds} s: $(syncs "$disk/bills.trace") syncs, median" \
    "$(syncMs "$disk/bills.trace") ms each; $perBill a bill beyond the idle rhythm;" \
    "$(held "$disk/bills.csv") polls held for a sync; median cycle $(cycleMedian "$disk/bills.csv") ms"
echo "  on tmpfs (no write behind a sync): $(held "$shm/bills.csv") polls held;" \
    "median cycle $(cycleMedian "$shm/bills.csv") ms"
awk -v r="$idleRate" -v b="$perBill" 'BEGIN {
    printf "A day at 100 ms with 500 bills: %.0f syncs (%.0f idle, %.0f for the bills)\n",
        r * 86400 + 500 * b, r * 86400, 500 * b }'
