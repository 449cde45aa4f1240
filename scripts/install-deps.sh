#!/usr/bin/env bash
# Installs what building and testing keyreport needs on Debian 12. Run as root.
#
# Required packages install, or the script stops with apt's message. Optional sets (packages
# of a foreign architecture, whose lists can lag the native ones on a mirror) are tried each
# on its own. Where apt cannot install one because the two architectures' lists disagree on the
# version of a library both must have at the same version, install-matching.sh names the
# versions the foreign lists have, for both architectures, and says in one line what it stepped
# back. A set that still cannot be installed is named in one line with the reasons, and the
# tests that need it report themselves skipped. When everything is installed already, nothing
# is fetched: a machine set up once runs the tests offline.
set -euo pipefail
export DEBIAN_FRONTEND=noninteractive
apt_get() { apt-get -o DPkg::Lock::Timeout=600 -o Acquire::Retries=3 "$@"; }

# The Linux build and its tests, the sanitizer, valgrind, fuzz and coverage stages, both
# Windows cross-compilers, pefile, which reads the Windows executables' resources and loads them
# for the processor emulator of python3-unicorn, which runs their code in the tests, the arm64
# cross-compiler with its C and C++ libraries, and the user-mode emulators the arm64 build's
# tests and the formatter's tests on other x86-64 CPUs run with. The desktop box's toolkit
# is loaded at run time only; its tests and the Windows builds' run on a private X server
# with the core fonts the boxes draw with, window listing, key input and screenshots.
# The Debian package: cpack finds the program's libraries with dpkg-shlibdeps (dpkg-dev) and
# its binaries with file; its test checks it with lintian. 64-bit Wine runs the 64-bit
# Windows executable from amd64 packages alone; fonts-wine adds Wine's own fonts.
required=(
    cmake ninja-build g++ libgtest-dev libgmock-dev
    clang libclang-rt-14-dev valgrind gcovr
    g++-mingw-w64-i686 g++-mingw-w64-x86-64 python3 python3-pefile python3-unicorn
    g++-aarch64-linux-gnu
    libgtk-3-0 libsdl2-2.0-0 xvfb xfonts-base x11-utils xdotool imagemagick
    weston dbus at-spi2-core python3-pyatspi
    libbenchmark-dev xxd bsdextrautils gnuplot-nox qemu-user
    dpkg-dev file lintian
    wine wine64 fonts-wine
)
# Wine's recommended packages bring the fonts and X libraries its message boxes are drawn with.
with_recommends=(wine wine64)

# Optional sets: "name|architecture|packages". 32-bit Wine runs the 32-bit Windows executable;
# the arm64 C library is what dpkg-shlibdeps works the arm64 package's Depends out from.
optional=(
    "32-bit Wine|i386|wine32:i386"
    "arm64 C library|arm64|libc6:arm64"
)

# A package installed for more than one architecture (libsdl2-2.0-0, which 32-bit Wine also
# brings for i386) is listed once for each; a name without an architecture counts as installed
# when the native or the architecture-independent package is.
native=$(dpkg --print-architecture)
installed() {
    local package wanted
    for package in "$@"; do
        wanted="($native|all)"
        [[ $package == *:* ]] && wanted="[^ ]+"
        dpkg-query -W -f='${Architecture} ${db:Status-Status}\n' "$package" 2>/dev/null |
            grep -qE "^$wanted installed$" || return 1
    done
}

missing_optional=()
for set in "${optional[@]}"; do
    IFS='|' read -r _ _ packages <<<"$set"
    # shellcheck disable=SC2086
    installed $packages || missing_optional+=("$set")
done
if installed "${required[@]}" && [[ ${#missing_optional[@]} -eq 0 ]]; then
    echo "install-deps: every package is installed already"
    exit 0
fi
if [[ $(id -u) -ne 0 ]]; then
    echo "install-deps: some packages are missing, and installing them needs root" >&2
    exit 1
fi

for set in "${missing_optional[@]}"; do
    IFS='|' read -r _ arch _ <<<"$set"
    dpkg --add-architecture "$arch"
done
# A package list that cannot be fetched (a mirror in mid-sync) is not fatal here: the installs
# below decide whether what was fetched is enough.
apt_get update -q || echo "install-deps: some package lists could not be refreshed; going on"

if ! installed "${required[@]}"; then
    plain=()
    for package in "${required[@]}"; do
        [[ " ${with_recommends[*]} " == *" $package "* ]] || plain+=("$package")
    done
    apt_get install -y -q --no-install-recommends "${plain[@]}"
    apt_get install -y -q "${with_recommends[@]}"
fi

for set in "${missing_optional[@]}"; do
    IFS='|' read -r name arch packages <<<"$set"
    # shellcheck disable=SC2086
    if ! log=$(apt_get install -y -q $packages 2>&1); then
        reason=$(grep -E '^E: ' <<<"$log" | head -n 1)
        # shellcheck disable=SC2086
        if log=$(bash "$(dirname "$0")/install-matching.sh" "$name" "$arch" $packages 2>&1); then
            grep '^install-deps: ' <<<"$log"
        else
            matching=$(grep -E '^(install-matching|E): ' <<<"$log" | head -n 1)
            echo "install-deps: optional $name ($packages) not installed:" \
                "${reason:-apt-get failed}; ${matching:-matching the versions failed}"
        fi
    fi
done
