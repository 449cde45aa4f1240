#!/usr/bin/env bash
# The cost of a headless run (no display): keyreport and `cat Test.txt` side by side, whole
# process, on the example file, and the shared objects each one loads. Needs hyperfine and
# a build of the default preset.
#
#   bash scripts/bench-headless.sh [KEYREPORT]
set -euo pipefail
cd "$(dirname "$0")/.."
if ! command -v hyperfine >/dev/null; then
    echo "bench-headless: hyperfine is not installed (as root: apt-get install hyperfine)" >&2
    exit 1
fi
program=$(realpath "${1:-build/default/keyreport}")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp examples/Test.txt "$work/"

# For comparison, where SDL2's development files are installed: the same program with
# SDL2 linked in, as a build without dlopen would have it.
linked=()
generated=$(dirname "$program")/generated # the version header --version prints from
kernels=dump/format_dump_tables.cpp
[[ $(uname -m) == x86_64 ]] && kernels=dump/format_dump_x86.cpp
[[ $(uname -m) == aarch64 ]] && kernels=dump/format_dump_neon.cpp
if g++ -O2 -std=c++17 -I. -I"$generated" report/key_report.cpp dump/format_dump.cpp "$kernels" \
    text/text.cpp platform/posix/*.cpp app/linux/main.cpp -o "$work/keyreport-sdl-linked" \
    -Wl,--no-as-needed -lSDL2 2>"$work/linked.log"; then
    linked=("$work/keyreport-sdl-linked")
else
    echo "the SDL2-linked comparison is left out: it did not build (libsdl2-dev installed?):"
    head -n 3 "$work/linked.log"
fi
cd "$work"
unset DISPLAY WAYLAND_DISPLAY

# Shared objects started by the dynamic loader, the program itself not counted.
loaded() { LD_DEBUG=files "$@" </dev/null 2>&1 >/dev/null | grep -c 'calling init:' || true; }
counts="shared objects loaded: cat $(loaded cat Test.txt), keyreport $(loaded "$program")"
if [[ ${#linked[@]} -gt 0 ]]; then
    counts+=", SDL2 linked in $(loaded "${linked[0]}")"
fi
echo "$counts"

# Standard input is /dev/null (hyperfine's default), so the key wait ends after its first
# 1 ms sleep; standard output and the values on standard error are discarded.
hyperfine -N --warmup 200 --runs ${RUNS:-3000} --output null 'cat Test.txt' "$program" "${linked[@]}"
