#!/usr/bin/env bash
# Set-up, build and every test, from nothing or from a warm build: the suite
# in the ci preset (warnings are errors), the poll transaction and monitor
# fuzzed for a bounded time, and the whole suite again under AddressSanitizer
# and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh

cmake --workflow --preset ci

fuzz_seconds=${KORA_FUZZ_SECONDS:-60}
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
echo "Fuzzing the poll transaction and the monitor for ${fuzz_seconds} s"
status=0
LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp" \
    build/fuzz/fuzz/fuzz_poll -max_total_time="$fuzz_seconds" -print_final_stats=1 \
    -artifact_prefix="$work/" "$work" >"$work/log" 2>&1 || status=$?
grep -E '^stat::(number_of_executed_units|new_units_added)|^SUMMARY|ERROR|invariant' "$work/log" || true
if [ "$status" -ne 0 ]; then
    tail -n 60 "$work/log"
    echo "fuzzing found a fault (exit status $status)"
    exit 1
fi

cmake --workflow --preset asan
