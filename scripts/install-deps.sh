#!/usr/bin/env bash
# Installs what building and testing keyreport needs on Debian 12. Run as root.
set -euo pipefail
export DEBIAN_FRONTEND=noninteractive
apt_get() { apt-get -o DPkg::Lock::Timeout=600 "$@"; }

# 32-bit Wine, for the Windows build's tests, needs the i386 architecture.
dpkg --add-architecture i386
apt_get update -q
apt_get install -y -q --no-install-recommends \
    cmake ninja-build g++ libgtest-dev libgmock-dev \
    clang libclang-rt-14-dev valgrind
# The desktop box's toolkit (loaded at run time only), and what its tests run on: an X
# server with the core fonts the box draws with, window listing, key input and screenshots.
apt_get install -y -q --no-install-recommends \
    libsdl2-2.0-0 xvfb xfonts-base x11-utils xdotool imagemagick

# The Windows build (mingw-w64 i686) and its tests under Wine on a private X display. Wine's
# recommended packages bring the fonts and X libraries the message boxes are drawn with.
apt_get install -y -q --no-install-recommends \
    g++-mingw-w64-i686 python3 xvfb xdotool x11-utils xfonts-base imagemagick
apt_get install -y -q wine wine32
