#!/usr/bin/env bash
# Installs what the tests need, then builds every preset and runs all the tests.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

echo "== default: unit and end-to-end tests"
cmake --preset default
cmake --build --preset default
ctest --preset default

echo "== release: optimised build of the program, the benchmarks and dumpfile (not run here)"
cmake --preset release
cmake --build --preset release
