#!/usr/bin/env bash
# Installs what the tests need, then builds every preset and runs all the tests.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

echo "== default: unit and end-to-end tests"
cmake --preset default
cmake --build --preset default
ctest --preset default

echo "== win32: the Windows executable, its zip, and end-to-end tests under Wine"
cmake --preset win32
cmake --build --preset win32
ctest --preset win32
