#!/usr/bin/env bash
# Installs what building and testing keyreport needs on Debian 12. Run as root.
set -euo pipefail
export DEBIAN_FRONTEND=noninteractive
apt_get() { apt-get -o DPkg::Lock::Timeout=600 "$@"; }

apt_get update -q
apt_get install -y -q --no-install-recommends \
    cmake ninja-build g++ libgtest-dev libgmock-dev

# The benchmarks (release preset), and what bench/run-benchmarks.sh compares and plots with.
apt_get install -y -q --no-install-recommends \
    libbenchmark-dev xxd bsdextrautils gnuplot-nox python3
