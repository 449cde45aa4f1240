#!/usr/bin/env bash
# Installs what the tests need, then builds every preset but program (which only the example
# uses) and runs all the tests, stage by stage, and ends with a table of the stages: each
# passed, skipped or failed, with what it ran and the tests that skipped themselves. A stage
# that fails does not stop the others; the script exits non-zero when any failed. Ctrl-C (or
# SIGTERM, or a hang-up) ends the whole command: the stage it hit stops, no stage starts after
# it, and the last lines name the stage.
#
# Sourced (as its own test does), it defines its functions and runs nothing.
set -uo pipefail
scripts=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

# Run by root in a checkout that belongs to a user, every build folder would be left to root,
# and the user's own cmake --build in them would fail; so however the command ends, build/
# goes back to the checkout's owner.
give_back_builds() {
    [[ $owner != 0:* && -d build ]] && chown -R "$owner" build
}

# Each stage runs in the background while the script waits for it, so that a signal ends the
# wait at once and the script notices it: a script waiting for a command in the foreground runs
# its trap only once that command ends, and for SIGINT, where the command catches it and exits
# normally (ninja: "build stopped: interrupted by user."), may run none. The signal reaches the
# stage's processes from the terminal, as it reaches the script, or from kill to the group.
take_signals() {
    owner=$(stat -c %u:%g .)
    signal=""
    trap give_back_builds EXIT
    trap 'signal=${signal:-INT}' INT
    trap 'signal=${signal:-TERM}' TERM
    trap 'signal=${signal:-HUP}' HUP
}

# watched COMMAND...: runs the command as above, standard input the script's own, and returns
# its status, or 128 + the signal's number where a signal ended the script's wait. The command
# runs in a subshell: the variables the stages set (detail and the test counts) come back
# through a file.
watched() {
    local pid status state
    state=$(mktemp)
    (
        trap 'exit 130' INT
        "$@"
        status=$?
        printf 'detail=%q tests_passed=%q tests_failed=%q tests_skipped=%q\n' "${detail:-}" \
            "${tests_passed:-0}" "${tests_failed:-0}" "${tests_skipped:-0}" >"$state"
        exit "$status"
    ) <&0 &
    pid=$!
    wait "$pid"
    status=$?
    # A signal ended the wait: the stage's processes have it too; wait until they are done.
    while [[ -n $signal ]] && kill -0 "$pid" 2>/dev/null; do
        wait "$pid"
    done
    if [[ -n $signal ]]; then
        rm -f "$state"
        return $((128 + $(kill -l "$signal")))
    fi
    # shellcheck disable=SC1090
    source "$state"
    rm -f "$state"
    return "$status"
}

# stage NAME WHAT COMMAND...: runs the command, which returns 0 (passed), 77 (skipped) or
# anything else (failed) and may set detail, and adds the stage's row to the table. After a
# signal no stage starts: its row says so.
stage() {
    local name=$1 result
    if [[ -n $signal ]]; then
        table+=("$(printf '%-13s %s' "$name" "not run")")
        return
    fi
    echo
    echo "== $name: $2"
    shift 2
    detail=""
    where="after the $name stage"
    watched "$@"
    case $? in
        0) result="passed${detail:+: $detail}" ;;
        77) result="skipped: ${detail:-no reason given}" ;;
        *) if [[ -n $signal ]]; then
               result="interrupted by SIG$signal"
               where="in the $name stage"
           else
               result="FAILED${detail:+: $detail}"
               stages_failed=$((stages_failed + 1))
           fi ;;
    esac
    table+=("$(printf '%-13s %s' "$name" "$result")")
}

# The closing table and count of tests, and the command's status: 128 + the signal's number
# after a signal, else non-zero when any stage failed.
finish() {
    echo
    echo "== the stages"
    printf '%s\n' "${table[@]}"
    echo "tests: $tests_passed passed, $tests_failed failed, $tests_skipped skipped"
    if [[ -n $signal ]]; then
        echo "test-all: interrupted by SIG$signal $where; no stage started after it"
        exit $((128 + $(kill -l "$signal")))
    fi
    [[ $stages_failed -eq 0 ]]
}

table=()
stages_failed=0 where="before the first stage"
tests_passed=0 tests_failed=0 tests_skipped=0

build() {
    if ! { cmake --preset "$1" && cmake --build --preset "$1"; }; then
        detail="the build failed"
        return 1
    fi
}

# Runs one test preset and sets detail to what it ran; fails when any test failed.
run_tests() {
    local junit=$results/$1.xml passed failed skipped
    rm -f "$junit"
    ctest --preset "$1" --output-junit "$junit"
    local status=$?
    read -r passed failed skipped detail < <(python3 "$scripts/summarize-tests.py" "$junit" "$1")
    tests_passed=$((tests_passed + passed))
    tests_failed=$((tests_failed + failed))
    tests_skipped=$((tests_skipped + skipped))
    return $((status != 0 || failed != 0))
}

build_and_test() {
    build "$1" && run_tests "$1"
}

build_release() {
    build release && detail="program, benchmarks and dumpfile built (not run here)"
}

fuzz_targets() {
    build fuzz || return 1
    local source name work runs=()
    for source in fuzz/fuzz_*.cpp; do
        name=$(basename "$source" .cpp) name=${name#fuzz_}
        work=$(mktemp -d)
        # fuzz_key_report writes the report cases into its folder itself.
        [[ ! -d fuzz/corpus/$name ]] || cp fuzz/corpus/"$name"/* "$work/"
        if ! "build/fuzz/fuzz_$name" -max_total_time=15 -timeout=10 -artifact_prefix="$work/" \
            "$work" >"$work/log" 2>&1; then
            tail -n 60 "$work/log"
            echo "fuzz_$name failed; the failing input is kept in $work" >&2
            tests_failed=$((tests_failed + 1))
            detail="fuzz_$name failed, input kept in $work"
            return 1
        fi
        runs+=("fuzz_$name $(sed -n 's/^Done \([0-9]*\) runs.*/\1/p' "$work/log") runs")
        tests_passed=$((tests_passed + 1))
        rm -rf "$work"
    done
    printf '%s\n' "${runs[@]}"
    local list
    list=$(printf ', %s' "${runs[@]}")
    detail="${#runs[@]} targets clean, 15 s each (${list#, })"
}

coverage_figures() {
    local log=$results/coverage.log
    bash scripts/coverage.sh 2>&1 | tee "$log"
    local status=${PIPESTATUS[0]}
    detail=$(tail -n 1 "$log")
    detail=${detail#coverage: }
    return "$status"
}

# Each package built twice, from two clones of the last commit in two folders, must come out
# the same bytes; the second clone belongs to another user, as a user's clone does when root
# builds in it, and is built with the file mode mask 002 that users with a group of their own
# have, where the first has 022.
compare_packages() {
    local work clone mask preset package packages differ=()
    # "configure preset:package preset"; the arm64 package where dpkg knows the arm64 C library.
    local presets=(release:deb win32:win32 win64:win64) arm64=yes
    dpkg-query -W libc6:arm64 >/dev/null 2>&1 || arm64=""
    [[ -n $arm64 ]] && presets+=(arm64:deb-arm64)
    work=$(mktemp -d)
    for clone in one two; do
        # This checkout may be another user's too: git's ownership check is lifted for the clone.
        git -c safe.directory='*' clone -q . "$work/$clone" || return 1
        mask=022
        [[ $clone == two ]] && chown -R nobody "$work/$clone" && mask=002
        for preset in "${presets[@]}"; do
            (umask "$mask" && cd "$work/$clone" && build "${preset%:*}" &&
                cpack --preset "${preset#*:}") \
                >>"$work/$clone.log" 2>&1 ||
                { detail="building ${preset#*:} failed (log: $work/$clone.log)"; return 1; }
        done
    done
    mapfile -t packages < <(cd "$work/one/build" && ls ./*/*.deb ./*/*.zip)
    [[ ${#packages[@]} -eq ${#presets[@]} ]] || { detail="cpack made ${packages[*]}"; return 1; }
    for package in "${packages[@]}"; do
        if cmp "$work/one/build/$package" "$work/two/build/$package"; then
            tests_passed=$((tests_passed + 1))
        else
            differ+=("$(basename "$package")")
            tests_failed=$((tests_failed + 1))
            command -v diffoscope >/dev/null &&
                diffoscope "$work/one/build/$package" "$work/two/build/$package" | head -n 60
        fi
    done
    if [[ ${#differ[@]} -gt 0 ]]; then
        detail="differ between two builds: ${differ[*]} (kept in $work)"
        return 1
    fi
    rm -rf "$work"
    detail="${#packages[@]} packages the same bytes when built twice from the last commit"
    [[ -n $arm64 ]] || detail+="; the arm64 package not built: libc6:arm64 is not installed"
}

# The stages, in order.
run_stages() {
    stage release "optimised build of the program, the benchmarks and dumpfile" build_release
    stage default "unit, end-to-end, desktop, cpu and package tests" build_and_test default
    stage asan "unit and end-to-end tests under the address and undefined-behaviour sanitizers" \
        build_and_test asan
    stage valgrind "the end-to-end tests with the program under memcheck" run_tests valgrind
    stage coverage "the tests once more with coverage counters: lines and branches covered" \
        coverage_figures
    stage fuzz "each target for 15 s from its seed corpus" fuzz_targets
    stage win32 "the 32-bit Windows executable, its zip, its runs under 32-bit Wine and emulated" \
        build_and_test win32
    stage win64 "the 64-bit Windows executable, its zip, its runs under 64-bit Wine and emulated" \
        build_and_test win64
    stage arm64 "the arm64 Linux build, its tests under qemu-aarch64, and its package" \
        build_and_test arm64
    stage reproducible "every package built twice and compared" compare_packages
}

main() {
    cd "$(dirname "$0")/.." || exit 1
    if [[ $(id -u) -ne 0 ]]; then
        echo "test-all: run this as root: it installs the packages the tests need first." >&2
        echo "Without root, the default tests alone: cmake --preset default &&" \
            "cmake --build --preset default && ctest --preset default (README.md, Test)." >&2
        exit 1
    fi
    take_signals
    if ! watched bash scripts/install-deps.sh; then
        [[ -n $signal ]] && where="while the packages were installed" && finish
        echo "test-all: the required packages did not install" >&2
        exit 1
    fi

    # The desktop box tests run under their own X server; here they must run, not be skipped.
    export KEYREPORT_REQUIRE_DESKTOP=1
    # Every preset builds all its tests and benchmarks: a missing library stops configure,
    # where elsewhere it would only leave them out.
    export KEYREPORT_REQUIRE_TESTS=1

    results=$PWD/build/test-results
    mkdir -p "$results"
    run_stages
    finish
}

[[ ${BASH_SOURCE[0]} != "$0" ]] || main "$@"
