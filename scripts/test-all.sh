#!/usr/bin/env bash
# Installs what the tests need, then builds every preset and runs all the tests.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

# The desktop box tests run under their own X server; here they must run, not be skipped.
export KEYREPORT_REQUIRE_DESKTOP=1

build() {
    cmake --preset "$1"
    cmake --build --preset "$1"
}

echo "== release: optimised build of the program, the benchmarks and dumpfile (not run here)"
build release

echo "== default: unit, end-to-end and desktop tests"
build default
ctest --preset default

echo "== asan: unit and end-to-end tests under the address and undefined-behaviour sanitizers"
build asan
ctest --preset asan

echo "== valgrind: the end-to-end tests with the program under memcheck"
ctest --preset valgrind

echo "== fuzz: each target for 15 s from its seed corpus"
build fuzz
for corpus in fuzz/corpus/*/; do
    name=$(basename "$corpus")
    work=$(mktemp -d)
    cp "$corpus"* "$work/"
    if ! "build/fuzz/fuzz_$name" -max_total_time=15 -timeout=10 -artifact_prefix="$work/" \
        "$work" >"$work/log" 2>&1; then
        tail -n 60 "$work/log"
        echo "fuzz_$name failed; the failing input is kept in $work" >&2
        exit 1
    fi
    grep -E '^Done' "$work/log" | sed "s/^/fuzz_$name: /"
    rm -rf "$work"
done

echo "== win32: the Windows executable, its zip, and end-to-end tests under Wine"
build win32
ctest --preset win32
