#!/usr/bin/env bash
# The test command's own logic on stand-in stages (docs/testing.md). Each stage list runs in a
# driver that sources test-all.sh; the stand-in for ctest hands run_tests a results file
# written here, as ctest --output-junit writes them.
#
#   test_all_test.sh <checkout>
set -uo pipefail
# shellcheck source=../script_lib.sh
source "$(dirname "$(realpath "$0")")/../script_lib.sh"
checkout=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# junit PRESET CASE...: the results of a preset; each case is NAME|run, NAME|fail,
# NAME|notrun or NAME|skip:REASON (the test printed "SKIP: REASON").
junit() {
    local preset=$1 item name how
    shift
    {
        echo '<?xml version="1.0" encoding="UTF-8"?>'
        echo "<testsuite name=\"(empty)\" tests=\"$#\">"
        for item in "$@"; do
            name=${item%|*} how=${item##*|}
            case $how in
                run) echo "<testcase name=\"$name\" status=\"run\"/>" ;;
                notrun) echo "<testcase name=\"$name\" status=\"notrun\"><skipped message=\"\"/></testcase>" ;;
                fail) echo "<testcase name=\"$name\" status=\"fail\"><failure message=\"\"/></testcase>" ;;
                skip:*) printf '<testcase name="%s" status="notrun"><skipped message=""/>%s</testcase>\n' \
                    "$name" "<system-out>SKIP: ${how#skip:}</system-out>" ;;
            esac
        done
        echo '</testsuite>'
    } >"$work/junit-$preset.xml"
}
junit green "Kernels/Dump.Lines/avx2  # GetParam() = avx2|run" "Text.Measure|run" \
    "Keys/KeyWait.AfterCtrlZ/1  # GetParam() = 4-byte &lt;1A&gt;|skip:under an emulator"
junit red "Text.Measure|run" "Report.Run|fail" "Report.Old|notrun"
junit win32 "win32_wine_end_to_end|skip:no 32-bit Wine" "win32_emulated_end_to_end|run" \
    "win32_resources|fail"
junit win64 "win64_wine_end_to_end|run" "win64_emulated_end_to_end|run"

# The driver: each argument a stage, "NAME FUNCTION [ARGUMENT]".
cat >"$work/driver.sh" <<EOF
source "$checkout/scripts/test-all.sh"
results=$work/results
mkdir -p "\$results"
ctest() { cp "$work/junit-\$2.xml" "\$4"; [[ \$(grep -c 'status="fail"' "\$4") -eq 0 ]] || return 8; }
passes() { detail="built"; }
skips() { detail="no tool here"; return 77; }
fails() { detail="the build failed"; return 1; }
# Catches SIGINT and ends normally, as ninja does.
long() {
    touch "$work/long-started"
    python3 -c 'import sys, time
try: time.sleep(60)
except KeyboardInterrupt: print("build stopped: interrupted by user."); sys.exit(2)'
}
marks() { touch "$work/marked"; }
take_signals
run_stages() {
    local row
    for row in "\$@"; do
        stage \${row%% *} "stand-in" \${row#* }
    done
}
run_stages "\$@"
finish
EOF

# has_lines FILE LINE...: the file holds each line.
has_lines() {
    local line
    for line in "${@:2}"; do
        grep -qxF -- "$line" "$1" || fail "no line: $line"
    done
}

# check NAME STATUS "EXPECTED LINE"... -- STAGE...: the driver's exit status must be STATUS and
# its output hold each expected line.
check() {
    case_name=$1
    local expected_status=$2 lines=() status
    shift 2
    while [[ $1 != -- ]]; do lines+=("$1"); shift; done
    shift
    (cd "$work" && bash "$work/driver.sh" "$@") >"$work/out.log" 2>&1
    status=$?
    [[ $status -eq $expected_status ]] || fail "exit status $status, not $expected_status"
    has_lines "$work/out.log" "${lines[@]}"
    [[ $failures -eq 0 ]] || cat "$work/out.log"
}

check "all passed" 0 \
    "one           passed: 2 tests passed; skipped 1: Keys/KeyWait.AfterCtrlZ/1 (under an emulator)" \
    "two           passed: built" \
    "tests: 2 passed, 0 failed, 1 skipped" -- "one run_tests green" "two passes"
check "passed, skipped and failed" 1 \
    "one           passed: built" \
    "two           skipped: no tool here" \
    "three         FAILED: 1 tests passed; failed 1: Report.Run; skipped 1: Report.Old (no reason given)" \
    "four          FAILED: the build failed" \
    "five          passed: built" \
    "tests: 1 passed, 1 failed, 1 skipped" -- \
    "one passes" "two skips" "three run_tests red" "four fails" "five passes"
check "a skipped stage alone" 0 "one           skipped: no tool here" -- "one skips"
check "the Windows runs made" 1 \
    "w32           FAILED: runs made: emulated; 1 tests passed; failed 1: win32_resources; skipped 1: win32_wine_end_to_end (no 32-bit Wine)" \
    "w64           passed: runs made: Wine and emulated; 2 tests passed" \
    "tests: 3 passed, 1 failed, 1 skipped" -- "w32 run_tests win32" "w64 run_tests win64"

# Ctrl-C: SIGINT to the whole process group, as the terminal sends it, in the stage whose
# process catches it and ends normally. The command must end at once with 130, start no stage
# after it, say where it stopped, and give build/ back to the checkout's owner (when run as
# root, in a checkout that belongs to nobody).
case_name=Ctrl-C
mkdir -p "$work/checkout/build"
[[ $(id -u) -eq 0 ]] && chown nobody "$work/checkout" && chmod 755 "$work"
(cd "$work/checkout" && exec setsid bash "$work/driver.sh" "one passes" "two long" \
    "three marks") >"$work/ctrl-c.log" 2>&1 &
driver=$!
AWAIT_SECONDS=10 await test -e "$work/long-started"
group=-$(ps -o pgid= "$driver" | tr -d ' ')
sleep 0.5
kill -INT -- "$group"
if ! AWAIT_SECONDS=10 await gone "$driver"; then
    fail "still running 10 s after SIGINT"
    kill -KILL -- "$group"
fi
wait "$driver"
status=$?
[[ $status -eq 130 ]] || fail "exit status $status, not 130"
[[ ! -e $work/marked ]] || fail "a stage started after SIGINT"
has_lines "$work/ctrl-c.log" "two           interrupted by SIGINT" "three         not run" \
    "test-all: interrupted by SIGINT in the two stage; no stage started after it"
[[ $(tail -n 1 "$work/ctrl-c.log") == test-all:* ]] || fail "the last line is not where it stopped"
if [[ $(id -u) -eq 0 ]]; then
    [[ $(stat -c %U "$work/checkout/build") == nobody ]] || fail "build/ left to root"
fi
[[ $failures -eq 0 ]] || cat "$work/ctrl-c.log"

[[ $failures -eq 0 ]] && echo "PASS 5 cases"
finish
