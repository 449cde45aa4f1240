#!/usr/bin/env bash
# Builds keyreport and runs it on the bundled example file, examples/Test.txt.
# Installs the build tools first where they are missing (needs root for that).
set -euo pipefail
cd "$(dirname "$0")/.."
if ! command -v cmake >/dev/null || ! command -v ninja >/dev/null || ! command -v g++ >/dev/null; then
    apt-get update -q
    DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends cmake ninja-build g++
fi
cmake --preset default -DKEYREPORT_TESTS=OFF >/dev/null
cmake --build --preset default --target keyreport >/dev/null
cd examples
exec ../build/default/keyreport
