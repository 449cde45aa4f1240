#!/usr/bin/env bash
# scripts/install-matching.sh on package lists of its own (docs/testing.md): a local repository
# of bookworm and bookworm-security and a dpkg status. apt runs on these alone, and the
# script's install through a stand-in apt-get that simulates it (-s) with the options given:
# nothing is installed, and an option the install lacks fails it as it would the real one.
#
#   install_matching_test.sh <install-matching.sh>
set -euo pipefail
# shellcheck source=../../script_lib.sh
source "$(dirname "$(realpath "$0")")/../../script_lib.sh"
script=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

stanza() { # stanza NAME ARCH VERSION [DEPENDS]: a package with Multi-Arch: same
    printf 'Package: %s\nArchitecture: %s\nVersion: %s\nMulti-Arch: same\n' "$1" "$2" "$3"
    [[ -n ${4:-} ]] && printf 'Depends: %s\n' "$4"
    printf 'Filename: pool/%s_%s_%s.deb\nSize: 1\nSHA256: %064d\n' "$1" "$3" "$2" 0
    printf 'Description: test package\n\n'
}

# suite NAME CODENAME "ARCH:LIST...": a suite whose list for each architecture holds the
# stanzas given (package=version,...).
suite() {
    local codename=$1 suite=$2 lists=$3 dir entry arch packages item
    dir=$work/repo/dists/$codename
    for entry in $lists; do
        arch=${entry%%:*} packages=${entry#*:}
        mkdir -p "$dir/main/binary-$arch"
        for item in ${packages//,/ }; do
            stanza "${item%%=*}" "$arch" "${item#*=}"
        done >"$dir/main/binary-$arch/Packages"
        if [[ $arch == i386 && $codename == bookworm ]]; then
            stanza wine32 i386 8.0~repack-4 \
                'libc (>= 2.36), libgst (>= 1.22), libsys, libpick | libalt' \
                >>"$dir/main/binary-$arch/Packages"
        fi
    done
    {
        printf 'Origin: Debian\nLabel: Debian\nSuite: %s\nCodename: %s\n' "$suite" "$codename"
        printf 'Date: Thu, 10 Dec 2026 00:00:00 UTC\nArchitectures: amd64 i386\n'
        printf 'Components: main\nSHA256:\n'
        (cd "$dir" && for list in main/binary-*/Packages; do
            printf ' %s %s %s\n' "$(sha256sum <"$list" | cut -d' ' -f1)" \
                "$(stat -c %s "$list")" "$list"
        done)
    } >"$dir/Release"
}

installed() { # installed NAME=VERSION...: the dpkg status, amd64 packages
    local item
    for item in "$@"; do
        stanza "${item%%=*}" amd64 "${item#*=}" | sed '1a Status: install ok installed'
    done >"$work/status"
}

# universe BOOKWORM_AMD64 BROKEN: the repository and apt's lists of it, afresh, fetched as on a
# machine that had amd64 alone, then added i386. With BROKEN, the bookworm-security i386 list
# is cut short before the second fetch: it fails its size check and apt keeps the first lists.
universe() {
    rm -rf "$work/repo" "$work/state" "$work/cache"
    mkdir -p "$work/state/lists/partial" "$work/cache/archives/partial" "$work/etc"
    local both="libgst=1.22.0-3+deb12u4,libsys=252.39-1~deb12u2,libc=2.36-9+deb12u14"
    both+=",libother=1.0-1,libalt=2.0-1,libpick=3.0-1"
    local security="libgst=1.22.0-3+deb12u7,libsys=252.38-1~deb12u1,libother=1.0-1+deb12u1"
    security+=",libalt=2.0-1+deb12u1"
    suite bookworm stable "amd64:${1:-$both} i386:$both"
    suite bookworm-security stable-security "amd64:$security i386:$security"
    {
        echo "deb [trusted=yes] file:$work/repo bookworm main"
        echo "deb [trusted=yes] file:$work/repo bookworm-security main"
    } >"$work/sources.list"
    export APT_CONFIG=$work/apt.conf
    update amd64
    if [[ -n $2 ]]; then
        local list=$work/repo/dists/bookworm-security/main/binary-i386/Packages
        head -c 100 "$list" >"$list.part"
        mv "$list.part" "$list"
    fi
    update amd64 i386
}

update() { # update ARCH...: apt's configuration for these architectures, and its lists fetched
    local architectures
    architectures=$(printf '"%s"; ' "$@")
    cat >"$work/apt.conf" <<EOF
Dir::State "$work/state";
Dir::State::status "$work/status";
Dir::Cache "$work/cache";
Dir::Etc "$work/etc";
Dir::Etc::SourceList "$work/sources.list";
Dir::Etc::SourceParts "$work/etc";
Dir::Etc::Parts "$work/etc";
Dir::Etc::PreferencesParts "$work/etc";
Dir::Log "$work/log";
APT::Architecture "amd64";
APT::Architectures { $architectures};
APT::Sandbox::User "root";
Debug::NoLocking "true";
EOF
    apt-get update -q >"$work/update.log" 2>&1 || true
}

# apt-get as the script finds it: the install, which alone takes -y, simulated.
mkdir -p "$work/bin"
printf '#!/bin/sh\ncase " $* " in *" -y "*) exec /usr/bin/apt-get -s "$@" ;; esac\n%s\n' \
    'exec /usr/bin/apt-get "$@"' >"$work/bin/apt-get"
chmod +x "$work/bin/apt-get"

# The script's install of wine32:i386, simulated, in out; fails where the script does.
plan() { out=$(PATH=$work/bin:$PATH bash "$script" "32-bit Wine" i386 wine32:i386 2>&1); }

# The amd64 libraries as a machine has them: libgst and libother from bookworm-security, whose
# i386 twins are in the broken list alone; libsys from an image older than the point release;
# libalt from bookworm-security, which wine32 could take in place of libpick, but need not.
installed libgst=1.22.0-3+deb12u7 libsys=252.38-1~deb12u1 libc=2.36-9+deb12u14 \
    libother=1.0-1+deb12u1 libalt=2.0-1+deb12u1

case_name="skewed lists"
universe "" i386
grep -qE "Hash Sum mismatch|unexpected size" "$work/update.log" ||
    fail "the broken list did not fail its size check: $(tail -n 3 "$work/update.log")"
if apt-get -s -q install wine32:i386 >"$work/plain.log" 2>&1; then
    fail "apt alone installs wine32:i386 from these lists; the case tests nothing"
fi
plan || fail "no plan: $out"
line=$(head -n 1 <<<"$out")
expected="install-deps: 32-bit Wine needs the same library versions for amd64 and i386;"
expected+=" stepped back from bookworm-security to bookworm: libgst 1.22.0-3+deb12u7 ->"
expected+=" 1.22.0-3+deb12u4; brought up to the i386 lists' versions: libsys 252.38-1~deb12u1"
expected+=" -> 252.39-1~deb12u2"
[[ $line == "$expected" ]] || fail "the line reads: $line"
for wanted in "Inst libgst [1.22.0-3+deb12u7] (1.22.0-3+deb12u4" \
    "Inst libgst:i386 (1.22.0-3+deb12u4" "Inst libsys [252.38-1~deb12u1] (252.39-1~deb12u2" \
    "Inst wine32:i386 " "Inst libpick:i386 "; do
    grep -qF "$wanted" <<<"$out" || fail "the plan lacks: $wanted"
done
for unwanted in "libother" "libalt" "Remv "; do
    ! grep -qF "$unwanted" <<<"$out" || fail "the plan touches $unwanted: $out"
done

case_name="no version for both architectures"
universe "libsys=252.39-1~deb12u2,libc=2.36-9+deb12u14,libother=1.0-1,libpick=3.0-1" i386
! plan || fail "a plan without a libgst for both architectures: $out"
reason="install-matching: installed for amd64, and offered at no version for both amd64 and"
reason+=" i386: libalt (2.0-1+deb12u1 installed), libgst (1.22.0-3+deb12u7 installed)"
[[ $out == "$reason" ]] || fail "the reason reads: $out"

case_name="lists that agree"
universe "" ""
installed libgst=1.22.0-3+deb12u7 libsys=252.38-1~deb12u1 libc=2.36-9+deb12u14
apt-get -s -q install wine32:i386 >"$work/plain.log" 2>&1 ||
    fail "apt alone does not install wine32:i386: $(grep '^E:' "$work/plain.log")"
! plan || fail "a plan where apt needs none: $out"

[[ $failures -eq 0 ]] && echo "PASS 3 cases"
finish
