#!/usr/bin/env bash
# Installs what building and testing keyreport needs on Debian 12. Run as root.
set -euo pipefail
export DEBIAN_FRONTEND=noninteractive
apt_get() { apt-get -o DPkg::Lock::Timeout=600 "$@"; }

# 32-bit Wine, for the Windows build's tests, needs the i386 architecture.
dpkg --add-architecture i386
apt_get update -q

# The Linux build and its tests, the sanitizer, valgrind and fuzz stages, the Windows
# cross-compiler and pefile, which reads the Windows executable's resources for its test, and
# the user-mode emulator the formatter's tests run on other CPUs with.
# The desktop box's toolkit is loaded at run time only; its tests and the Windows build's run
# on a private X server with the core fonts the boxes draw with, window listing, key input
# and screenshots.
apt_get install -y -q --no-install-recommends \
    cmake ninja-build g++ libgtest-dev libgmock-dev \
    clang libclang-rt-14-dev valgrind \
    g++-mingw-w64-i686 python3 python3-pefile \
    libsdl2-2.0-0 xvfb xfonts-base x11-utils xdotool imagemagick \
    libbenchmark-dev xxd bsdextrautils gnuplot-nox qemu-user

# The Debian package: cpack finds the program's libraries with dpkg-shlibdeps (dpkg-dev) and
# its binaries with file; its test checks it with lintian.
apt_get install -y -q --no-install-recommends dpkg-dev file lintian

# Wine's recommended packages bring the fonts and X libraries its message boxes are drawn with;
# fonts-wine adds the symbol font of the close glyph in a box's caption.
apt_get install -y -q wine wine32 fonts-wine
