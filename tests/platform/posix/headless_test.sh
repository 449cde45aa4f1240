#!/usr/bin/env bash
# keyreport without a desktop, or with a box that cannot show: docs/testing.md tells the rows.
#
#   headless_test.sh KEYREPORT WORKDIR STAND-IN-FOLDER [EMULATOR...]
#
# STAND-IN-FOLDER holds the toolkit stand-in, which BOX_CRASH makes crash, and a library
# whose fork always fails, which lacks the toolkits' entry points. On a cross build the
# program runs through the emulator command that follows them.
set -uo pipefail
# shellcheck source=../../script_lib.sh
source "$(dirname "$(realpath "$0")")/../../script_lib.sh"

keyreport=$(realpath "$1")
stand_in=$(realpath "$3")
new_work "$2"
shift 3
run=("$@" "$keyreport")
toolkits=(libgtk-3.so.0 libSDL2-2.0.so.0)
mkdir -p "$work/no-toolkit" "$work/no-entry"
for library in "${toolkits[@]}"; do
    # An empty file under a toolkit's name ends the loader's search: as if none were installed.
    : >"$work/no-toolkit/$library"
    ln -s "$stand_in/libfailing_fork.so" "$work/no-entry/$library"
done
# A zenity that cannot reach the display either; SDL2 would take its exit as a box shown.
stand_in_zenity "$work/noisy-zenity"
cd "$work" || exit 1

# A file with bytes that are not UTF-8: standard error carries them unchanged.
printf 'str2=\x80uro \x81&str1=caf\xe9&' >Test.txt
printf 'str1=caf\xe9\nstr2=\x80uro \x81\n' >expected-stderr

# Runs keyreport with the given environment changes; checks exit code and standard error.
#   headless_case NAME ENV-ARGS...
headless_case() {
    local name=$1 case_name=$1 failed=$failures
    shift
    env "$@" "${fixed_layout[@]}" "${run[@]}" </dev/null >"$name.stdout" 2>"$name.stderr"
    local status=$?
    [[ $status -eq 0 ]] || fail "exit code $status"
    cmp -s expected-stderr "$name.stderr" ||
        fail "standard error is not the two values: $(od -c "$name.stderr" | head -n 5)"
    ((failures > failed)) || echo "ok: $name"
}

noisy_zenity=PATH=$work/noisy-zenity:$PATH
x11=(-u WAYLAND_DISPLAY DISPLAY=:0)
headless_case no-display -u DISPLAY -u WAYLAND_DISPLAY
headless_case empty-display DISPLAY= WAYLAND_DISPLAY=
# A display number that no server answers: the box fails and the values are not lost.
headless_case unreachable-display -u WAYLAND_DISPLAY DISPLAY=unix:65000
headless_case unreachable-display-zenity -u WAYLAND_DISPLAY DISPLAY=unix:65000 "$noisy_zenity"
headless_case unreachable-wayland-zenity -u DISPLAY WAYLAND_DISPLAY=wayland-65000 "$noisy_zenity"
# A display, but the toolkit, which the package only recommends, is missing or unusable.
headless_case no-toolkit "${x11[@]}" LD_LIBRARY_PATH="$work/no-toolkit"
headless_case toolkit-without-entry "${x11[@]}" LD_LIBRARY_PATH="$work/no-entry"
# A toolkit that dies of SIGSEGV in its box takes only the box's process with it.
headless_case crashing-toolkit "${x11[@]}" LD_LIBRARY_PATH="$stand_in" BOX_CRASH=1
# A toolkit that hands the box to zenity, which cannot show it, or that says a box shown while
# its error tells that its own box failed: neither counts as a box seen.
headless_case toolkit-falls-back-to-zenity "${x11[@]}" LD_LIBRARY_PATH="$stand_in" \
    BOX_FALLBACK=1 "$noisy_zenity"
headless_case toolkit-error-left "${x11[@]}" LD_LIBRARY_PATH="$stand_in" \
    BOX_RECORD="$work/boxes" BOX_ERROR="msgbox child process failed"

# A box whose process cannot start (fork fails): the values are not lost. Natively only, as
# the preloaded library is the build's own; under the address sanitizer, whose run-time then
# no longer comes first, told to allow that.
((${#run[@]} > 1)) || headless_case no-box-process "${x11[@]}" LD_LIBRARY_PATH="$stand_in" \
    LD_PRELOAD="$stand_in/libfailing_fork.so" \
    ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0"

# The shared objects the program opened itself in a run (its loader's log files), one a line.
opened() { cat "$@" | sed -n 's/^ *[0-9]*:\tfile=\([^ ]*\) .*dynamically loaded.*/\1/p' | sort -u; }

# Without a display the run opens nothing itself: it loads what the program is linked with
# alone, the C library for the shipped program (the package test holds its NEEDED entries).
env -u DISPLAY -u WAYLAND_DISPLAY LD_DEBUG=files LD_DEBUG_OUTPUT="$work/loader" "${run[@]}" \
    </dev/null >/dev/null 2>&1
[[ -z $(opened "$work"/loader.*) ]] ||
    fail "without a display the run opened $(opened "$work"/loader.* | tr '\n' ' ')"
# With one, each installed toolkit is loaded, by the box's process alone: the program itself
# loads none (the check above would pass for a program that never loads them). The loader's
# log of a process goes on in the same file after a fork, each line tagged with the process id.
env -u WAYLAND_DISPLAY DISPLAY=unix:65000 LD_DEBUG=files LD_DEBUG_OUTPUT="$work/loader-display" \
    "${run[@]}" </dev/null >/dev/null 2>&1 &
program=$!
wait "$program"
for library in "${toolkits[@]}"; do
    if PATH=$PATH:/sbin ldconfig -p | grep -q "^[[:space:]]*${library//./\\.} " &&
        ! opened "$work"/loader-display.* | grep -qx "$library"; then
        fail "$library was not loaded with a display"
    fi
done
parent_opened=$(grep -h "^ *$program:" "$work"/loader-display.* | opened /dev/stdin)
[[ -z $parent_opened ]] || fail "the program itself opened $(tr '\n' ' ' <<<"$parent_opened")"

cmp -s no-display.stdout unreachable-display.stdout ||
    fail "standard output depends on the display"
# With standard input and standard error closed, both are /dev/null at the boxes: the values
# go nowhere, and the run ends as any other.
env -u WAYLAND_DISPLAY DISPLAY=unix:65000 "${fixed_layout[@]}" "${run[@]}" <&- \
    >closed-stderr.stdout 2>&-
status=$?
[[ $status -eq 0 ]] || fail "closed-stderr: exit code $status"
cmp -s no-display.stdout closed-stderr.stdout ||
    fail "closed-stderr: standard output differs from a run without a display"
grep -q 'Press any key to exit' no-display.stdout || fail "no closing prompt"

# A closed standard descriptor is opened on /dev/null before the run opens anything, so that
# Test.txt, here a FIFO with no writer, never takes its place: on 0 the key wait would wait on
# the FIFO for good, on 1 or 2 the dumps or the values would be written at the file.
mkdir closed && mkfifo closed/Test.txt closed/key
(cd closed && env -u DISPLAY -u WAYLAND_DISPLAY timeout 10 "${run[@]}" 0<&- >closed-0.stdout)
status=$?
[[ $status -eq 0 && $(cat closed/closed-0.stdout) == 'Press any key to exit...'$'\r' ]] ||
    fail "closed-0: exit code $status, standard output $(od -c closed/closed-0.stdout | head -n 3)"
exec 7<>closed/key # a key wait on it waits until the key is written
opens_test_file() { ls -l "/proc/$1/fd" 2>/dev/null | grep -q 'Test\.txt$'; }
for fd in 1 2; do
    (cd closed && exec >/dev/null 2>&1 <key && eval "exec $fd>&-" &&
        exec env -u DISPLAY -u WAYLAND_DISPLAY "${run[@]}") &
    program=$!
    await opens_test_file "$program"
    [[ $(readlink "/proc/$program/fd/$fd") == /dev/null ]] ||
        fail "closed-$fd: descriptor $fd is $(readlink "/proc/$program/fd/$fd")"
    printf k >&7
    wait "$program" || fail "closed-$fd: exit code $?"
done
exec 7>&-
finish
