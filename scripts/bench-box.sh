#!/usr/bin/env bash
# Time to the first box: from keyreport's start until its box's window is mapped on an X
# server, for GTK's dialog and for SDL2's box (GTK hidden), on a private Xvfb and a private
# session bus, as a desktop has one. Each run is ended once its box shows. Needs Xvfb, xev
# (x11-utils), dbus-run-session and a build of the default preset.
#
#   bash scripts/bench-box.sh [KEYREPORT]      (RUNS=30 runs for each toolkit by default)
set -euo pipefail
if [[ -z ${KEYREPORT_BENCH_BUS:-} ]]; then
    KEYREPORT_BENCH_BUS=1 exec dbus-run-session -- bash "$0" "$@"
fi
cd "$(dirname "$0")/.."
program=$(realpath "${1:-build/default/keyreport}")
runs=${RUNS:-30}
work=$(mktemp -d)
xvfb_pid=
xev_pid=
cleanup() {
    [[ -n $xev_pid ]] && kill "$xev_pid" 2>/dev/null
    [[ -n $xvfb_pid ]] && kill "$xvfb_pid" 2>/dev/null
    wait 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
cp examples/Test.txt "$work/"
mkdir "$work/no-gtk"
: >"$work/no-gtk/libgtk-3.so.0" # an empty file under GTK's name ends the loader's search

exec 3>"$work/display-number"
Xvfb -displayfd 3 -screen 0 640x400x24 -nolisten tcp -noreset >/dev/null 2>&1 &
xvfb_pid=$!
exec 3>&-
for ((tries = 0; tries < 100; ++tries)); do
    [[ -s $work/display-number ]] && break
    sleep 0.1
done
DISPLAY=:$(head -n 1 "$work/display-number")
export DISPLAY
unset WAYLAND_DISPLAY

# xev reports every window mapped on the screen, one line each, as it happens.
coproc XEV { xev -root -event substructure 2>/dev/null; }
xev_pid=$XEV_PID
sleep 0.5 # xev has selected the events

# Milliseconds from the start of one run until a window is mapped; the run is then ended.
time_run() {
    local start line
    start=$EPOCHREALTIME
    (cd "$work" && exec env "$@" "$program" </dev/null >/dev/null 2>&1) &
    local run=$!
    while read -r line <&"${XEV[0]}"; do
        [[ $line == MapNotify* ]] && break
    done
    local end=$EPOCHREALTIME
    kill "$run"
    wait "$run" 2>/dev/null || true
    echo $(((${end/./} - ${start/./}) / 1000))
}

# One toolkit: a first run that is not counted (it starts the accessibility bus and fills the
# caches), then RUNS runs; prints the median, the fastest and the slowest.
measure() {
    local name=$1
    shift
    time_run "$@" >/dev/null
    local times=()
    for ((run = 0; run < runs; ++run)); do
        times+=("$(time_run "$@")")
    done
    sort -n <<<"$(printf '%s\n' "${times[@]}")" >"$work/times"
    printf '%-5s median %4d ms  min %4d ms  max %4d ms  (%d runs)\n' "$name" \
        "$(sed -n "$(((runs + 1) / 2))p" "$work/times")" "$(head -n 1 "$work/times")" \
        "$(tail -n 1 "$work/times")" "$runs"
}

measure GTK
measure SDL2 LD_LIBRARY_PATH="$work/no-gtk"
