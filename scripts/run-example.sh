#!/usr/bin/env bash
# Builds keyreport and runs it on the bundled example file, examples/Test.txt.
# Installs the build tools first where they are missing (needs root for that). The program is
# built alone in build/program/, so the tests' build in build/default/ is left as it is.
set -euo pipefail
cd "$(dirname "$0")/.."
if ! command -v cmake >/dev/null || ! command -v ninja >/dev/null || ! command -v g++ >/dev/null; then
    apt-get update -q
    DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends cmake ninja-build g++
fi
cmake --preset program >/dev/null
cmake --build --preset program >/dev/null
cd examples
exec ../build/program/keyreport
