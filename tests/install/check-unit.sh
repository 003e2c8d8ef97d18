#!/usr/bin/env bash
# Usage: check-unit.sh BUILD_DIR STAGING_DIR
# Installs BUILD_DIR under STAGING_DIR as the package does and has systemd's
# own tools judge an instance of kora232-headless@.service there: verify,
# with the staged poller as its ExecStart, must pass without a word, and the
# sandbox must keep the unit's exposure low. No running systemd is needed:
# the system's own units are copied beside the staged one, for the targets
# every service is ordered after. Names every fault it finds and fails if
# there is one.
set -uo pipefail
build=$1 staging=$2
instance=kora232-headless@ttyUSB0.service
# An adapter by its stable name: the instance holds escaped slashes.
by_id=kora232-headless@$(systemd-escape serial/by-id/usb-FTDI_FT232R_USB_UART_A10K2-if00-port0).service
faults=0

fail() {
    echo "FAIL: $*"
    faults=$((faults + 1))
}

if ! command -v systemd-analyze >/dev/null; then
    echo "FAIL: systemd-analyze is not installed (scripts/setup.sh installs it)"
    exit 1
fi
rm -rf "$staging"
if ! DESTDIR=$staging "${CMAKE:-cmake}" --install "$build" --prefix /usr >/dev/null; then
    echo "FAIL: cmake --install $build did not finish (is the whole build done?)"
    exit 1
fi
unit=$staging/lib/systemd/system/kora232-headless@.service
if [ ! -f "$unit" ]; then
    echo "FAIL: the unit is not installed as /lib/systemd/system/kora232-headless@.service"
    exit 1
fi
for system in /usr/lib/systemd/system /lib/systemd/system; do
    if [ -f "$system/sysinit.target" ]; then
        mkdir -p "$staging/usr/lib/systemd"
        cp -a "$system" "$staging/usr/lib/systemd/"
        break
    fi
done

# Installed, never enabled: nothing links it into a target.
wants=$(find "$staging" -path '*.wants/*kora232*')
[ -z "$wants" ] || fail "the install enables the unit: $wants"

# A setting systemd cannot parse is only a warning to verify: any word fails.
cd "$staging" || exit 1
for unit_name in "$instance" "$by_id"; do
    said=$(systemd-analyze verify --man=no --root="$staging" "$unit_name" 2>&1)
    status=$?
    [ "$status" -eq 0 ] && [ -z "$said" ] ||
        fail "systemd-analyze verify $unit_name (status $status): $said"
done

exposure=$(systemd-analyze security --offline=yes --root="$staging" --threshold=20 "$instance" 2>&1)
status=$?
[ "$status" -eq 0 ] ||
    fail "the unit's sandbox lets too much through: $(tail -n 1 <<<"$exposure")"

grep -q '^ExecStart=/usr/bin/kora232-headless .*--port 1=/dev/%I ' "$unit" ||
    fail "ExecStart does not poll /dev/%I"
# %I unescapes a by-id instance back to its slashes: a file named by it would
# be a file in folders that do not exist.
grep -q '^ExecStart=.* --log /var/log/kora232/%i\.csv ' "$unit" ||
    fail "the log is not named by the escaped instance (%i), one file whatever the instance"
grep -q '^ExecStart=.* --metrics /var/lib/prometheus/node-exporter/kora232-%i\.prom$' "$unit" ||
    fail "the metrics file is not named by the escaped instance (%i)"
for setting in DynamicUser=yes SupplementaryGroups=dialout LogsDirectory=kora232 \
    'DeviceAllow=/dev/%I rw' ProtectSystem=strict NoNewPrivileges=yes Restart=on-failure \
    RestartSec=5 RestartPreventExitStatus=2; do
    grep -qxF "$setting" "$unit" || fail "the unit has no $setting"
done
grep -q '^ReadWritePaths=.*/var/lib/prometheus/node-exporter' "$unit" ||
    fail "the unit cannot write to the node exporter's folder"

[ "$faults" -eq 0 ] || { echo "$faults fault(s) in the systemd unit"; exit 1; }
echo "systemd unit OK: $(tail -n 1 <<<"$exposure")"
