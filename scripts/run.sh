#!/usr/bin/env bash
# Installs what is missing, builds kora232, kora232-headless and the simulated
# acceptor, and runs the window and the simulator together, port 1 pinned to
# the simulator's pseudo-terminal. The build's output goes to build/run.log.
#
#   scripts/run.sh [SCREENSHOT]
#
# With a display: the window opens ready for START, and the simulator takes
# commands typed on this terminal (insert 1-7, jam, clear, tally, quit, help).
# Closing the window, typing quit or pressing Ctrl-C ends both. If standard
# input is not a terminal the window still opens, and the simulator reads its
# commands from that input (none from /dev/null); closing the window ends it.
#
# With no display ($DISPLAY and $WAYLAND_DISPLAY empty): a short scripted
# session under Xvfb instead. kora232 presses START, the simulator takes a few
# bills, and after about eight seconds the window is saved to SCREENSHOT
# (default build/kora232-demo.png in the repository, beside the build, which
# git ignores); then the simulator's tally and the screenshot's path are
# printed.
set -euo pipefail

shot=${1:+$(realpath -m -- "$1")}
cd "$(dirname "$0")/.."
shot=${shot:-$PWD/build/kora232-demo.png}

# One line a stage; the whole build log goes to a file, shown if a stage fails.
log=build/run.log
mkdir -p build
: >"$log"
step() {
    local what=$1
    shift
    echo "run: $what"
    if ! "$@" >>"$log" 2>&1; then
        cat "$log" >&2
        echo "run: $what failed; the log above is kept in $PWD/$log" >&2
        exit 1
    fi
}
step "set-up: the packages the build and the window need" scripts/setup.sh run
step "configuring (build/default)" cmake --preset default
step "building kora232, kora232-headless and acceptor-sim" \
    cmake --build --preset default --target kora232 kora232-headless acceptor-sim
kora=build/default/src/app/kora232
sim=build/default/sim/acceptor-sim

tmp=$(mktemp -d -t kora232-run.XXXXXX)
link="$tmp/acceptor"
pids=()
cleanup() {
    # Whichever of the two is still running goes too; the simulator prints
    # its tally on the way out.
    for pid in "${pids[@]}"; do
        kill -TERM "$pid" 2>/dev/null || true
    done
    wait || true
    rm -rf "$tmp"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

wait_for_link() {
    for _ in $(seq 50); do
        [ -L "$link" ] && return 0
        sleep 0.1
    done
    echo "run: the simulator did not start" >&2
    exit 1
}

interactive() {
    if [ -t 0 ]; then
        echo "Press START in the window. Simulator commands, typed here:" \
            "insert 1-7, jam, clear, tally, quit, help."
    else
        echo "run: standard input is not a terminal; the simulator reads commands from it;" \
            "close the window to end."
    fi
    # A background job would read /dev/null; hand it this script's input.
    exec 3<&0
    "$sim" --link "$link" <&3 &
    pids+=("$!")
    wait_for_link
    "$kora" --port "1=$link" </dev/null &
    pids+=("$!")
    wait -n "${pids[@]}" || true
}

scripted() {
    echo "run: no display (\$DISPLAY and \$WAYLAND_DISPLAY are empty): a short scripted" \
        "session under Xvfb instead, leaving a screenshot."
    if ! command -v xvfb-run >/dev/null; then
        echo "run: xvfb-run is missing; as root: apt-get install xvfb xauth" >&2
        exit 1
    fi
    local scenario="wait 1500ms; insert 3; wait 1500ms; insert 5; wait 1500ms; insert 3"
    scenario+="; wait 2900ms; insert 2" # on its way in when the screenshot is taken
    "$sim" --link "$link" --run "$scenario" >"$tmp/sim.out" </dev/null &
    local sim_pid=$!
    pids+=("$sim_pid")
    wait_for_link
    export XDG_RUNTIME_DIR="${XDG_RUNTIME_DIR:-$tmp}" # a root shell may have none
    xvfb-run -a -s "-screen 0 1024x768x24" \
        "$kora" --port "1=$link" --start --quit-after 8000 --screenshot "$shot"
    kill -TERM "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" || true
    echo "simulator $(grep '^tally:' "$tmp/sim.out" | tail -n 1)"
    echo "screenshot: $shot"
}

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    interactive
else
    scripted
fi
