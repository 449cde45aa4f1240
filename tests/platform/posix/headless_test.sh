#!/usr/bin/env bash
# keyreport without a desktop: with no display, or a display that cannot be reached, each
# value text and a line feed go to standard error, and standard output is as with a box.
#
#   headless_test.sh KEYREPORT WORKDIR [EMULATOR...]
#
# On a cross build the program runs through the emulator command that follows WORKDIR.
set -uo pipefail

keyreport=$(realpath "$1")
work=$(realpath -m "$2")
shift 2
run=("$@" "$keyreport")
rm -rf "$work"
mkdir -p "$work"
cd "$work" || exit 1
failures=0

fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

if setarch -R true 2>/dev/null; then
    fixed_layout=(setarch -R)
else
    fixed_layout=()
fi

# A file with bytes that are not UTF-8: standard error carries them unchanged.
printf 'str2=\x80uro \x81&str1=caf\xe9&' >Test.txt
printf 'str1=caf\xe9\nstr2=\x80uro \x81\n' >expected-stderr

# Runs keyreport with the given environment changes; checks exit code and standard error.
#   headless_case NAME ENV-ARGS...
headless_case() {
    local name=$1
    shift
    env "$@" "${fixed_layout[@]}" "${run[@]}" </dev/null >"$name.stdout" 2>"$name.stderr"
    local status=$?
    [[ $status -eq 0 ]] || fail "$name: exit code $status"
    cmp -s expected-stderr "$name.stderr" ||
        fail "$name: standard error is not the two values: $(od -c "$name.stderr" | head -n 5)"
    echo "ok: $name"
}

headless_case no-display -u DISPLAY -u WAYLAND_DISPLAY
headless_case empty-display -u WAYLAND_DISPLAY DISPLAY=
# A display number that no server answers: the box fails and the values are not lost.
headless_case unreachable-display -u WAYLAND_DISPLAY DISPLAY=unix:65000

# Without a display the toolkit library is not even loaded.
env -u DISPLAY -u WAYLAND_DISPLAY LD_DEBUG=files LD_DEBUG_OUTPUT="$work/loader" "${run[@]}" \
    </dev/null >/dev/null 2>&1
if grep -q 'SDL' "$work"/loader.*; then
    fail "the toolkit library was loaded without a display"
fi
# With one, it is: the check above would pass for a program that never loads it.
env -u WAYLAND_DISPLAY DISPLAY=unix:65000 LD_DEBUG=files LD_DEBUG_OUTPUT="$work/loader-display" \
    "${run[@]}" </dev/null >/dev/null 2>&1
if PATH=$PATH:/sbin ldconfig -p | grep -q 'libSDL2-2\.0\.so\.0' &&
    ! grep -q 'libSDL2' "$work"/loader-display.*; then
    fail "the toolkit library was not loaded with a display"
fi

cmp -s no-display.stdout unreachable-display.stdout ||
    fail "standard output depends on the display"
grep -q 'Press any key to exit' no-display.stdout || fail "no closing prompt"

exit $((failures > 0))
