#!/usr/bin/env bash
# kora232 beside a bare Qt Widgets window of its size with Qt SerialPort
# linked (bench/bare_window.cpp, built here as bench_bare_window), on the
# offscreen platform: the launch to the first frame and the whole process
# with --quit-after 0, in pairs, then polling a prompt acceptor at 100 ms
# against the bare window rewriting twelve rows ten times a second, and
# kora232-headless polling the same acceptor. Prints both medians and, beside
# the target, the ratio over the pairs run in either order (bench_program.cpp,
# printBeside, says why), then the ratio of the medians.
# About 4 minutes with the defaults.
#
#   bench/beside-bare.sh [LAUNCH_PAIRS [REPEATS [SECONDS]]]   (101, 3, 20)
#   PRESET=ci bench/beside-bare.sh    (reuse another preset's build)
set -euo pipefail
cd "$(dirname "$0")/.."
preset="${PRESET:-default}"

work=$(mktemp -d -t kora232-beside.XXXXXX)
trap 'rm -rf "$work"' EXIT
if ! { cmake --preset "$preset" && cmake --build --preset "$preset" \
    --target kora232 kora232-headless bench_program bench_bare_window; } >"$work/build.log" 2>&1; then
    cat "$work/build.log" >&2
    exit 1
fi
bin="build/$preset"
export XDG_RUNTIME_DIR="${XDG_RUNTIME_DIR:-$work}" # a root shell may have none

cpu=$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n 1)
echo "Machine: $(nproc) CPUs, ${cpu:-unknown CPU}; $(uname -sr)"
echo "Program: $("$bin/src/app/kora232" --version), preset $preset," \
    "Qt $(dpkg-query -W -f '${Version}' libqt6core6 2>/dev/null || echo '?')"
# The offscreen platform warns of size hints it cannot pass on, once a window.
QT_QPA_PLATFORM=offscreen "$bin/bench/bench_program" --beside "$bin/bench/bench_bare_window" \
    "$bin/src/app/kora232" "$bin/src/app/kora232-headless" "${1:-101}" "${2:-3}" "${3:-20}" \
    2> >(grep -v "does not support propagateSizeHints" >&2)
