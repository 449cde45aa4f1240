#!/usr/bin/env bash
# Time to the first box: from keyreport's start until its box's window is mapped on an X
# server, for GTK's dialog and for SDL2's box (GTK hidden), on a private Xvfb and a private
# session bus, as a desktop has one. Then the time to the second box: from Return pressed in
# the first until the second box's window is mapped. Each run is ended there. Needs Xvfb, xev
# (x11-utils), xdotool, dbus-run-session and a build of the default preset.
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

# Waits for the next window mapped on the screen; sets mapped to its id.
await_map() {
    local line
    while read -r line <&"${XEV[0]}"; do
        if [[ $line == MapNotify* ]]; then
            read -r line <&"${XEV[0]}"
            mapped=${line#*window }
            mapped=${mapped%%,*}
            return
        fi
    done
}

# Milliseconds from the start of one run until its first box is mapped, and from Return
# pressed in that box until the second one is; the run is then ended.
time_run() {
    local start first pressed second mapped
    start=$EPOCHREALTIME
    (cd "$work" && exec env "$@" "$program" </dev/null >/dev/null 2>&1) &
    local run=$!
    await_map
    first=$EPOCHREALTIME
    xdotool windowfocus --sync "$mapped" key Return 2>/dev/null
    pressed=$EPOCHREALTIME
    await_map
    second=$EPOCHREALTIME
    kill "$run"
    wait "$run" 2>/dev/null || true
    echo $(((${first/./} - ${start/./}) / 1000)) $(((${second/./} - ${pressed/./}) / 1000))
}

# Median, fastest and slowest of a column of times.
summary() {
    sort -n "$1" >"$1.sorted"
    printf 'median %4d ms  min %4d ms  max %4d ms' "$(sed -n "$(((runs + 1) / 2))p" "$1.sorted")" \
        "$(head -n 1 "$1.sorted")" "$(tail -n 1 "$1.sorted")"
}

# One toolkit: a first run that is not counted (it starts the accessibility bus and fills the
# caches), then RUNS runs; prints the median, the fastest and the slowest of each box.
measure() {
    local name=$1
    shift
    time_run "$@" >/dev/null
    : >"$work/first"
    : >"$work/second"
    for ((run = 0; run < runs; ++run)); do
        read -r first second <<<"$(time_run "$@")"
        echo "$first" >>"$work/first"
        echo "$second" >>"$work/second"
    done
    printf '%-5s first box:  %s  (%d runs)\n' "$name" "$(summary "$work/first")" "$runs"
    printf '%-5s second box: %s  (after Return in the first)\n' "$name" \
        "$(summary "$work/second")"
}

measure GTK
measure SDL2 LD_LIBRARY_PATH="$work/no-gtk"
