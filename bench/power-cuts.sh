#!/usr/bin/env bash
# Random power cuts over two bills' cycles: acceptor-sim takes bills 3 and 5,
# kora232-headless polls it at a random period of 100-800 ms with a log, is
# killed (SIGKILL) at a random moment of the two cycles, and its log is cut
# back as a power cut leaves it: to its size at the last fdatasync (noted by
# the preloaded library the power-cut test uses), or torn at a random byte
# after it. A poller started again on that log after a random pause must
# bring the bills counted in the log to the acceptor's tally: a bill short is
# lost, one over is doubled. Prints each cut that went wrong and the totals.
#
#   bench/power-cuts.sh [CUTS] [PARALLEL] [BUILD]   (default 100, 4, build/ci)
set -uo pipefail
cd "$(dirname "$0")/.."
cuts=${1:-100}
parallel=${2:-4}
bin=${3:-build/ci}
headless="$bin/src/app/kora232-headless"
sim="$bin/sim/acceptor-sim"
note="$bin/tests/app/libkora_syncnote.so"
for f in "$headless" "$sim" "$note"; do
    [ -e "$f" ] || { echo "missing $f (cmake --build --preset ci)" >&2; exit 1; }
done
work=$(mktemp -d -t kora232-cuts.XXXXXX)
trap 'rm -rf "$work"' EXIT

# Bills counted in a log, as the acceptor's tally writes them.
counted() {
    local counts
    counts=$(grep -o 'bill [1-7] stacked, counted' "$1" | cut -d ' ' -f 2 | sort | uniq -c |
        awk '{ printf "bill%s=%s ", $2, $1 }')
    echo "${counts:-none}"
}
tallied() {
    sed -n 's/^tally: //p' "$1" | tr ' ' '\n' | grep -v '=0$' | grep -v '^total' |
        tr '\n' ' '
}

one() {
    local i=$1 dir="$work/$1"
    mkdir "$dir"
    local period=$(((RANDOM % 8 + 1) * 100)) kill_ms=$((800 + RANDOM % 5200))
    local pause_ms=$((200 + RANDOM % 1800)) torn=$((RANDOM % 2))
    "$sim" --link "$dir/acceptor" --run "wait 1s; insert 3; insert 5" >"$dir/sim.out" 2>&1 &
    local simpid=$!
    sleep 0.3
    LD_PRELOAD="$PWD/$note" KORA_SYNC_NOTE="$dir/synced" "$headless" --port "1=$dir/acceptor" \
        --poll-rate "$period" --log "$dir/log.csv" --duration 30 >"$dir/first.out" 2>&1 &
    local poller=$!
    sleep "$(printf '%d.%03d' $((kill_ms / 1000)) $((kill_ms % 1000)))"
    kill -KILL "$poller" 2>/dev/null
    wait "$poller" 2>/dev/null
    local size synced
    size=$(stat -c %s "$dir/log.csv")
    synced=$(cat "$dir/synced" 2>/dev/null || echo 0)
    local cut=$synced
    if [ "$torn" = 1 ] && [ "$size" -gt "$synced" ]; then
        cut=$((synced + RANDOM % (size - synced)))
    fi
    truncate -s "$cut" "$dir/log.csv"
    sleep "$(printf '0.%03d' $((pause_ms % 1000)))"
    [ "$pause_ms" -ge 1000 ] && sleep 1
    LD_PRELOAD="$PWD/$note" KORA_SYNC_NOTE="$dir/synced" "$headless" --port "1=$dir/acceptor" \
        --poll-rate "$period" --log "$dir/log.csv" --duration $((6 + period * 12 / 1000)) \
        >"$dir/second.out" 2>&1
    kill -TERM "$simpid"
    wait "$simpid" 2>/dev/null
    local want got
    want=$(tallied "$dir/sim.out")
    got=$(counted "$dir/log.csv")
    local verdict=ok
    [ "$(echo "$want" | xargs)" = "$(echo "$got" | xargs)" ] || verdict=wrong
    echo "$i $verdict period=${period}ms kill=${kill_ms}ms cut=$cut/$size torn=$torn" \
        "pause=${pause_ms}ms tally=[$want] counted=[$got]" >"$dir/verdict"
}

for ((i = 1; i <= cuts; i++)); do
    one "$i" &
    while [ "$(jobs -rp | wc -l)" -ge "$parallel" ]; do sleep 0.2; done
done
wait

lost=0 doubled=0 wrong=0 empty=0
for ((i = 1; i <= cuts; i++)); do
    line=$(cat "$work/$i/verdict")
    case "$line" in *"tally=[]"*) empty=$((empty + 1)) ;; esac
    case "$line" in *" wrong "*)
        echo "$line"
        wrong=$((wrong + 1))
        want=$(echo "$line" | sed 's/.*tally=\[\([^]]*\)\].*/\1/' | grep -o '=[0-9]*' | tr -d '=' |
            paste -sd+ | bc)
        got=$(echo "$line" | sed 's/.*counted=\[\([^]]*\)\].*/\1/' | grep -o '=[0-9]*' | tr -d '=' |
            paste -sd+ | bc)
        [ "${got:-0}" -lt "${want:-0}" ] && lost=$((lost + want - got))
        [ "${got:-0}" -gt "${want:-0}" ] && doubled=$((doubled + got - want))
        ;;
    esac
done
echo "power cuts: $cuts at 100-800 ms over two bills' cycles ($empty with no bill stacked);" \
    "wrong $wrong, bills lost $lost, doubled $doubled"
