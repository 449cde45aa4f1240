#!/usr/bin/env bash
# The Debian package, built from the release tree with cpack --preset deb (or from another
# tree with its own presets, such as arm64 and deb-arm64): lintian finds no tag at all,
# informational and pedantic ones included; the control fields are right; and it holds the
# stripped program, the gzip -9n manual page, the copyright file with LICENSE's text and the
# changelog, and nothing else.
#
#   package_test.sh SOURCEDIR VERSION WORKDIR [CONFIGURE-PRESET PACKAGE-PRESET ARCHITECTURE]
#
# Exits 77 (skipped) when dpkg does not know the C library of a foreign ARCHITECTURE, from
# which dpkg-shlibdeps works out the Depends field.
set -uo pipefail
# shellcheck source=../../script_lib.sh
source "$(dirname "$(realpath "$0")")/../../script_lib.sh"

cd "$1" || exit 1
version=$2
preset=${4:-release}
package_preset=${5:-deb}
architecture=${6:-$(dpkg --print-architecture)}
if ! dpkg-query -W "libc6:$architecture" >/dev/null 2>&1; then
    echo "SKIP: libc6:$architecture is not installed (dpkg --add-architecture $architecture;" \
        "apt-get install libc6:$architecture): dpkg-shlibdeps needs it for Depends"
    exit 77
fi
new_work "$3"

# cpack finds the program's libraries with dpkg-shlibdeps and its binaries with file; lintian
# checks the package. Without one of them, say which Debian package brings it.
for tool in dpkg-shlibdeps:dpkg-dev file:file lintian:lintian; do
    command -v "${tool%%:*}" >/dev/null || fail "${tool%%:*} not found: install the Debian package ${tool#*:}"
done
[[ $failures -eq 0 ]] || exit 1

build_package() {
    cmake --preset "$preset" && cmake --build --preset "$preset" && cpack --preset "$package_preset"
}
logged "$work/build.log" build_package || { echo "FAIL: building the package"; exit 1; }
deb=build/$preset/keyreport_${version}_$architecture.deb
[[ -f $deb ]] || { echo "FAIL: no $deb"; exit 1; }

# Any tag, down to the informational and pedantic ones, or lintian failing to run, fails the
# test; the tags are shown.
tags=$(lintian -I --pedantic --fail-on error,warning,info,pedantic "$deb" 2>&1)
status=$?
grep -v '^running with root privileges' <<<"$tags"
[[ $status -eq 0 ]] || fail "lintian: exit status $status"
grep -q '^[EWIPX]: ' <<<"$tags" && fail "lintian reports tags"

diff -u <(printf '%s\n' "Package: keyreport" "Version: $version" "Architecture: $architecture" \
    "Section: utils" "Priority: optional" "Recommends: libgtk-3-0 | libsdl2-2.0-0") \
    <(dpkg-deb -f "$deb" Package Version Architecture Section Priority Recommends) ||
    fail "control fields"
# The program needs the C library alone: no C++ runtime may creep in.
[[ $(dpkg-deb -f "$deb" Depends) =~ ^libc6\ \(\>=\ [0-9.]+\)$ ]] ||
    fail "Depends is not libc6 alone: $(dpkg-deb -f "$deb" Depends)"
[[ $(dpkg-deb -f "$deb" Description | wc -l) -ge 3 ]] || fail "no long description"

# Exactly these entries, owned by root, with Debian's permissions.
diff -u - <(dpkg-deb -c "$deb" | awk '{print $1, $2, $6}') <<'LIST' || fail "contents"
drwxr-xr-x root/root ./usr/
drwxr-xr-x root/root ./usr/bin/
-rwxr-xr-x root/root ./usr/bin/keyreport
drwxr-xr-x root/root ./usr/share/
drwxr-xr-x root/root ./usr/share/doc/
drwxr-xr-x root/root ./usr/share/doc/keyreport/
-rw-r--r-- root/root ./usr/share/doc/keyreport/changelog.gz
-rw-r--r-- root/root ./usr/share/doc/keyreport/copyright
drwxr-xr-x root/root ./usr/share/man/
drwxr-xr-x root/root ./usr/share/man/man1/
-rw-r--r-- root/root ./usr/share/man/man1/keyreport.1.gz
LIST

dpkg-deb -x "$deb" "$work/root"
[[ $(file -b "$work/root/usr/bin/keyreport") =~ ELF.*,\ stripped ]] || fail "program not stripped"
# The C library alone, with its loader where the architecture's programs name it too (arm64
# takes the stack protector's guard from the loader).
needed=$(readelf -d "$work/root/usr/bin/keyreport" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p')
[[ $(grep -vx -e libc.so.6 -e 'ld-linux-[a-z0-9-]*\.so\.[0-9]' <<<"$needed") == "" &&
    $needed == *libc.so.6* ]] || fail "the program needs $(echo $needed), not the C library alone"
# gzip header: no file name, no time stamp, maximum compression.
[[ $(od -An -tx1 -N9 "$work/root/usr/share/man/man1/keyreport.1.gz" | tr -d ' ') == \
    1f8b08000000000002 ]] || fail "manual page not gzip -9n"
# The copyright file's License paragraph is LICENSE's permission text, each line indented by
# one space, each empty line a lone dot.
awk 'text { print $0 == " ." ? "" : /^ [^ ]/ ? substr($0, 2) : "malformed: [" $0 "]" }
     /^License: Expat$/ && last == "" { text = 1 } { last = $0 }' \
    "$work/root/usr/share/doc/keyreport/copyright" | diff -u <(sed -n '/^Permission/,$p' LICENSE) - ||
    fail "copyright lacks LICENSE"

[[ $failures -eq 0 ]] && echo "ok: $deb"
finish
