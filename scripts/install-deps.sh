#!/usr/bin/env bash
# Installs what building and testing keyreport needs on Debian 12. Run as root.
set -euo pipefail
export DEBIAN_FRONTEND=noninteractive
apt_get() { apt-get -o DPkg::Lock::Timeout=600 "$@"; }

# 32-bit Wine, for the Windows build's tests, needs the i386 architecture.
dpkg --add-architecture i386
apt_get update -q
apt_get install -y -q --no-install-recommends \
    cmake ninja-build g++ libgtest-dev libgmock-dev

# The Windows build (mingw-w64 i686) and its tests under Wine on a private X display. Wine's
# recommended packages bring the fonts and X libraries the message boxes are drawn with.
apt_get install -y -q --no-install-recommends \
    g++-mingw-w64-i686 python3 xvfb xdotool x11-utils xfonts-base imagemagick
apt_get install -y -q wine wine32
