#!/usr/bin/env bash
# Usage: check-alerts.sh SOURCE_DIR
# Checks the example alert rules with Prometheus's own tool, runs their unit
# tests (a poller killed, one stopped cleanly, one alive) and the example
# Prometheus configuration that loads them. Names every fault it finds and
# fails if there is one.
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
# The example server loads the rules by the name they are shipped under.
config=$(mktemp -d)
cp "$source/packaging/prometheus.yml" "$rules" "$config/"
promtool check config "$config/prometheus.yml" || fail "promtool check config rejects prometheus.yml"
rm -rf "$config"

[ "$faults" -eq 0 ] || exit 1
echo "The alert rules pass"
