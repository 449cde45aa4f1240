#!/usr/bin/env bash
# cmake --install into a new prefix: the program in bin/, its manual page in
# share/man/man1/, and the installed program runs from anywhere.
#
#   install_test.sh CMAKE BUILDDIR WORKDIR [EMULATOR...]
#
# On a cross build the installed program runs through the emulator command after WORKDIR.
set -uo pipefail
# shellcheck source=../../script_lib.sh
source "$(dirname "$(realpath "$0")")/../../script_lib.sh"

cmake=$1
build=$(realpath "$2")
new_work "$3"
shift 3
emulator=("$@")
mkdir -p "$work/run"

logged "$work/install.log" "$cmake" --install "$build" --prefix "$work/prefix" ||
    { echo "FAIL: cmake --install"; exit 1; }

program=$work/prefix/bin/keyreport
page=$work/prefix/share/man/man1/keyreport.1
[[ -x $program ]] || fail "no executable bin/keyreport"
[[ -s $page ]] || fail "no manual page share/man/man1/keyreport.1"

# The page names itself and covers each of its sections.
for heading in NAME SYNOPSIS DESCRIPTION OPTIONS FILES "EXIT STATUS" ENVIRONMENT; do
    grep -q "^\.SH \"\?$heading\"\?\$" "$page" || fail "manual page has no $heading section"
done
grep -q '^\.TH KEYREPORT 1 ' "$page" || fail "manual page has no .TH KEYREPORT 1 line"

# Where a formatter is installed, the page formats without warnings.
if command -v groff >/dev/null; then
    warnings=$(groff -man -Tutf8 -ww -z "$page" 2>&1)
    [[ -z $warnings ]] || fail "manual page warnings: $warnings"
fi

# The installed program, run headless in a directory of its own.
printf 'str1=one&str2=two&' >"$work/run/Test.txt"
(cd "$work/run" &&
    env -u DISPLAY -u WAYLAND_DISPLAY "${emulator[@]}" "$program" </dev/null >stdout 2>stderr)
status=$?
[[ $status -eq 0 ]] || fail "installed program: exit code $status"
[[ $(cat "$work/run/stderr") == $'str1=one\nstr2=two' ]] ||
    fail "installed program: standard error is $(cat "$work/run/stderr")"

[[ $failures -eq 0 ]] && echo "ok: installed into $work/prefix"
finish
