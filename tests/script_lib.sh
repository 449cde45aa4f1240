# shellcheck shell=bash disable=SC2034 # fixed_layout is for the scripts that source this
# What the test scripts share: a count of failed checks, a fresh work folder, the run's address
# layout fixed (so that two runs print the same addresses), waits and logs. Sourced by each.
failures=0

# fail MESSAGE: counts a failed check; the message names the case, where case_name is set.
fail() {
    echo "FAIL: ${case_name:+$case_name: }$*"
    failures=$((failures + 1))
}

# new_work PATH: work is PATH's full name, an empty folder.
new_work() {
    work=$(realpath -m "$1")
    rm -rf "$work"
    mkdir -p "$work"
}

fixed_layout=()
setarch -R true 2>/dev/null && fixed_layout=(setarch -R)

# await COMMAND...: waits up to AWAIT_SECONDS (30) for the command to succeed.
await() {
    local tries
    for ((tries = 0; tries < ${AWAIT_SECONDS:-30} * 10; ++tries)); do
        "$@" && return 0
        sleep 0.1
    done
    return 1
}

# gone PID: the process has ended and been waited for.
gone() { ! kill -0 "$1" 2>/dev/null; }

# logged LOG COMMAND...: runs the command with its output in LOG, which is shown where the
# command fails.
logged() {
    local log=$1
    shift
    "$@" >"$log" 2>&1 && return 0
    tail -n 40 "$log"
    return 1
}

# stand_in_zenity FOLDER [MARK]: a zenity in FOLDER that cannot reach the display, says so on
# standard error as the real one does, and exits 1, touching MARK where given.
stand_in_zenity() {
    mkdir -p "$1"
    printf '#!/bin/sh\n%s\necho "Gtk-WARNING **: cannot open display: $DISPLAY" >&2\nexit 1\n' \
        "${2:+: >\"$2\"}" >"$1/zenity"
    chmod +x "$1/zenity"
}

# Ends the script: 1 where a check failed.
finish() {
    exit $((failures > 0))
}
