#!/usr/bin/env bash
# Installing from source without the test libraries: with GoogleTest and Google Benchmark
# hidden from CMake, the release and default presets configure, each saying in one line what
# it leaves out, build the program and its manual page, and the default build installs;
# where the test command's KEYREPORT_REQUIRE_TESTS is set, configure stops instead.
#
#   from_source_test.sh CMAKE SOURCEDIR WORKDIR
set -uo pipefail
# shellcheck source=../../script_lib.sh
source "$(dirname "$(realpath "$0")")/../../script_lib.sh"

cmake=$1
source=$(realpath "$2")
new_work "$3"

hidden=(-DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON -DCMAKE_DISABLE_FIND_PACKAGE_benchmark=ON)
cd "$source" || exit 1

# "preset:the one line it must print"
for expected in "release:Google Benchmark (libbenchmark-dev) not found: leaving out the benchmarks" \
    "default:GoogleTest (libgtest-dev) not found: leaving out the tests"; do
    preset=${expected%%:*}
    line=${expected#*:}
    if ! logged "$work/$preset.log" env -u KEYREPORT_REQUIRE_TESTS "$cmake" --preset "$preset" \
        -B "$work/$preset" "${hidden[@]}"; then
        fail "cmake --preset $preset did not configure"
        continue
    fi
    left_out=$(grep 'not found: leaving out' "$work/$preset.log")
    [[ $left_out == "-- $line" ]] || fail "$preset said '$left_out', not '-- $line'"
    if ! logged "$work/$preset-build.log" "$cmake" --build "$work/$preset"; then
        fail "the $preset build failed"
        continue
    fi
    [[ -x $work/$preset/keyreport && -s $work/$preset/keyreport.1 ]] ||
        fail "the $preset build made no program or manual page"
done

# The default build's install passes the checks of the test build's (install_test.sh).
if [[ -x $work/default/keyreport ]]; then
    bash "$(dirname "$0")/install_test.sh" "$cmake" "$work/default" "$work/install" ||
        fail "cmake --install of the default build"
fi

# The test command's setting: a missing library stops configure, naming it.
if KEYREPORT_REQUIRE_TESTS=1 "$cmake" --preset default -B "$work/required" "${hidden[@]}" \
    >"$work/required.log" 2>&1; then
    fail "with KEYREPORT_REQUIRE_TESTS set, configure went on without GoogleTest"
elif ! grep -q 'GoogleTest (libgtest-dev)' "$work/required.log"; then
    cat "$work/required.log"
    fail "with KEYREPORT_REQUIRE_TESTS set, configure did not name GoogleTest"
fi

[[ $failures -eq 0 ]] && rm -rf "$work"
finish
