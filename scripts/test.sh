#!/usr/bin/env bash
# Set-up, build and every test, from nothing or from a warm build: the suite
# in the ci preset (warnings are errors) with the soak, the poll transaction
# and monitor fuzzed for a bounded time, and the suite again under
# AddressSanitizer and UndefinedBehaviorSanitizer. Ends with the time each
# stage took.
set -euo pipefail
cd "$(dirname "$0")/.."

timings=()
stage() {
    local name=$1
    shift
    local start=$SECONDS
    "$@"
    timings+=("$(printf '%-28s %4d s' "$name" $((SECONDS - start)))")
}

fuzz() {
    local seconds=${KORA_FUZZ_SECONDS:-30} work status=0
    work=$(mktemp -d)
    echo "Fuzzing the poll transaction and the monitor for ${seconds} s"
    LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp" \
        build/fuzz/fuzz/fuzz_poll -max_total_time="$seconds" -print_final_stats=1 \
        -artifact_prefix="$work/" "$work" >"$work/log" 2>&1 || status=$?
    grep -E '^stat::(number_of_executed_units|new_units_added)|^SUMMARY|ERROR|invariant' \
        "$work/log" || true
    if [ "$status" -ne 0 ]; then
        tail -n 60 "$work/log"
        echo "fuzzing found a fault (exit status $status)"
    fi
    rm -rf "$work"
    return "$status"
}

stage "set-up" scripts/setup.sh test
stage "ci: build and test" cmake --workflow --preset ci
stage "fuzz: build" bash -c 'cmake --preset fuzz >/dev/null && cmake --build --preset fuzz'
stage "fuzz: run" fuzz
stage "asan: build and test" cmake --workflow --preset asan

echo
echo "Time per stage:"
printf '  %s\n' "${timings[@]}"
echo "  total                        $SECONDS s"
