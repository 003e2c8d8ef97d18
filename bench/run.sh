#!/usr/bin/env bash
# The benchmark figures in one command: builds what they need (default
# preset), then prints the machine, kora232's share of a core while polling
# an absent and a live acceptor at 100 ms, its time from launch to the window
# shown, its peak resident memory, and the poll-transaction figures, each
# next to its target. kora232 runs once with the offscreen platform and, if
# xvfb-run is there, once more on an X server (Xvfb). kora232-headless follows,
# with no display at all: its share of a core and its peak memory. Last, what
# syncing a session log row costs, on the disk under the build folder.
#
#   bench/run.sh [LAUNCHES]    (launches timed to the window; default 10)
set -euo pipefail
cd "$(dirname "$0")/.."
launches="${1:-10}"
repeats="${2:-3}"

scripts/setup.sh
work=$(mktemp -d -t kora232-bench.XXXXXX)
trap 'rm -rf "$work"' EXIT
log="$work/build.log"
if ! { cmake --preset default && cmake --build --preset default \
    --target kora232 kora232-headless bench_program bench_poll bench_sessionlog; } >"$log" 2>&1; then
    cat "$log" >&2
    exit 1
fi
bin=build/default
kora="$bin/src/app/kora232"
export XDG_RUNTIME_DIR="${XDG_RUNTIME_DIR:-$work}" # a root shell may have none

cpu=$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n 1)
echo "Machine: $(nproc) CPUs, ${cpu:-unknown CPU}; $(uname -sr);" \
    "load average $(cut -d ' ' -f 1-3 /proc/loadavg) at the start"
echo "Program: $("$kora" --version), RelWithDebInfo (default preset)," \
    "Qt $(dpkg-query -W -f '${Version}' libqt6core6 2>/dev/null || echo '?')"
echo

echo "== kora232 with QT_QPA_PLATFORM=offscreen"
QT_QPA_PLATFORM=offscreen "$bin/bench/bench_program" "$kora" "$launches" "$repeats"
echo
if command -v xvfb-run >/dev/null; then
    echo "== kora232 on an X server: xvfb-run (Xvfb, 24-bit)"
    env -u QT_QPA_PLATFORM xvfb-run -a -s "-screen 0 1024x768x24" \
        "$bin/bench/bench_program" "$kora" "$launches" "$repeats"
else
    echo "== no xvfb-run: no figures on an X server"
fi
echo

echo "== kora232-headless, no display (DISPLAY and QT_QPA_PLATFORM unset)"
env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM \
    "$bin/bench/bench_program" --headless "$bin/src/app/kora232-headless" "$repeats"
echo

echo "== (e) poll transaction against the simulated acceptor, paced at 9600 baud (bench_poll)"
"$bin/bench/bench_poll"
echo

echo "== session log rows with and without a sync, on the disk under build/ (bench_sessionlog)"
"$bin/bench/bench_sessionlog" "$bin"
