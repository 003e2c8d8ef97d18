#!/usr/bin/env bash
# Usage: check-alerts.sh SOURCE_DIR
# Checks the example alert rules with Prometheus's own tool, runs their unit
# tests (a poller killed, one stopped cleanly, one alive) and checks that the
# README quotes the file as it is. Names every fault it finds and fails if
# there is one.
set -uo pipefail
source=$1
rules=$source/packaging/kora232-alerts.yml
faults=0

fail() {
    echo "FAIL: $*"
    faults=$((faults + 1))
}

if ! command -v promtool >/dev/null; then
    echo "FAIL: promtool is missing (scripts/setup.sh installs it)"
    exit 1
fi
promtool check rules "$rules" || fail "promtool check rules rejects $rules"
promtool test rules "$source/tests/install/kora232-alerts.test.yml" || fail "the alert rules' tests fail"
# The README's block that starts with the file's name, up to its fence.
quoted=$(sed -n '/^# kora232-alerts.yml$/,/^```$/p' "$source/README.md" | sed '1d;$d')
[ "$quoted" = "$(cat "$rules")" ] || fail "README.md does not quote $rules as it is"

[ "$faults" -eq 0 ] || exit 1
echo "The alert rules pass"
