#!/usr/bin/env bash
# Set-up, build and every test, from nothing or from a warm build: the suite
# in the ci preset (warnings are errors) with the soak, the poll transaction,
# the monitor and the log readers fuzzed for a bounded time, and the suite
# again under AddressSanitizer and UndefinedBehaviorSanitizer. Ends with the time each
# stage took; a stage that fails fails the script, after the others have run.
set -uo pipefail
cd "$(dirname "$0")/.." || exit

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
begin=$SECONDS

# Runs and times one stage; stages may run side by side, so each notes when it
# began, and what failed is listed at the end.
stage() {
    local name=$1 start=$SECONDS status=0
    shift
    "$@" || status=$?
    printf '%-22s %4d s   from %3d s%s\n' "$name" $((SECONDS - start)) $((start - begin)) \
        "$([ "$status" -eq 0 ] || echo "   FAILED (status $status)")" >>"$work/times"
    return "$status"
}

build() {
    cmake --preset "$1" >/dev/null && cmake --build --preset "$1"
}

# One libFuzzer target for its share of the budget. The log readers start
# from the committed logs, cut to 8 KiB: a few seconds of the unoptimised
# sanitizer build then run some hundreds of logs, mutated.
fuzz_target() {
    local target=$1 seconds=$2 corpus="$work/corpus-$1" status=0 options=()
    mkdir "$corpus"
    if [ "$target" != fuzz_poll ]; then
        cp tests/data/*.csv "$corpus/"
        options=(-max_len=8192)
    fi
    echo "Fuzzing $3 for ${seconds} s"
    LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp" TMPDIR="$work" \
        "build/asan/fuzz/$target" "${options[@]}" -max_total_time="$seconds" \
        -print_final_stats=1 -artifact_prefix="$corpus/" "$corpus" >"$work/fuzz-log" 2>&1 ||
        status=$?
    grep -E '^stat::(number_of_executed_units|new_units_added)|^SUMMARY|ERROR|invariant' \
        "$work/fuzz-log" || true
    if [ "$status" -ne 0 ]; then
        tail -n 60 "$work/fuzz-log"
        echo "fuzzing $target found a fault (exit status $status)"
    fi
    return "$status"
}

# Half the budget to the poll transaction, a tenth to each log reader and
# to the round trip of rows.
fuzz() {
    local seconds=${KORA_FUZZ_SECONDS:-40} status=0
    local half=$((seconds > 1 ? seconds / 2 : 1)) tenth=$((seconds > 9 ? seconds / 10 : 1))
    fuzz_target fuzz_poll "$half" "the poll transaction and the monitor" || status=1
    fuzz_target fuzz_logreader "$tenth" "the log reader and the analysis" || status=1
    fuzz_target fuzz_replay "$tenth" "the replay of a log" || status=1
    fuzz_target fuzz_logtail "$tenth" "the tail of a log" || status=1
    fuzz_target fuzz_gzlog "$tenth" "a log compressed by gzip" || status=1
    fuzz_target fuzz_logroundtrip "$tenth" "rows written and read back" || status=1
    return "$status"
}

# Prints what a stage run beside another wrote, once it is done.
show() {
    echo
    echo "==== $1"
    cat "$2"
}

stage "set-up" scripts/setup.sh test || exit 1
stage "ci: build" build ci || { cat "$work/times"; exit 1; }

# The ci tests mostly wait on timers and pseudo-terminals: the sanitizer
# build (which holds the fuzz targets too) uses the CPU they leave, at low
# priority so that the tests still get what they ask for. The fuzz run then
# goes beside the sanitizer tests in the same way.
(
    renice -n 10 "$BASHPID" >/dev/null
    stage "asan: build" build asan && touch "$work/asan-built"
) >"$work/builds-log" 2>&1 &
builds=$!
stage "ci: test" ctest --preset ci
wait "$builds"
show "The sanitizer build, beside the ci tests" "$work/builds-log"

if [ -e "$work/asan-built" ]; then
    (
        renice -n 10 "$BASHPID" >/dev/null
        stage "fuzz: run" fuzz
    ) >"$work/fuzz-out" 2>&1 &
    fuzzing=$!
    stage "asan: test" ctest --preset asan
    wait "$fuzzing"
    show "The fuzz run, beside the sanitizer tests" "$work/fuzz-out"
fi

echo
echo "Time per stage (some side by side):"
sed 's/^/  /' "$work/times"
echo "  total                  $((SECONDS - begin)) s"
! grep -q FAILED "$work/times"
