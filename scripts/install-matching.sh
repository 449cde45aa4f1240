#!/usr/bin/env bash
# install-matching.sh NAME ARCH PACKAGE...: installs PACKAGEs of the foreign
# architecture ARCH where apt alone cannot, because a library they need is installed for the
# native architecture at a version that ARCH's package lists do not have: a mirror whose list
# of a suite for ARCH fails to download (its amd64 libraries from bookworm-security then have no
# i386 twins), or an image that lags the point release. A library that both architectures may
# have (Multi-Arch: same) must have the same version for both, so each such library of the
# PACKAGEs' dependencies takes the version ARCH's lists offer, named to apt for the native
# architecture too. Where that steps a library back (from bookworm-security to bookworm), one
# line names the libraries concerned; only those change. Nothing is removed: a plan that would
# remove a package installs nothing. NAME names the set in what it prints. Exits non-zero with a
# line giving the reason when it cannot.
set -euo pipefail
export DEBIAN_FRONTEND=noninteractive
apt_get() { apt-get -o DPkg::Lock::Timeout=600 "$@"; }

name=$1 arch=$2
shift 2
native=$(apt-config dump --format "%v%n" APT::Architecture)

# The foreign packages the set may need: its whole dependency closure for ARCH.
mapfile -t needed < <(apt-cache depends --recurse --no-recommends --no-suggests \
    --no-conflicts --no-breaks --no-replaces --no-enhances "$@" |
    sed -n "s/^\([^ <][^ ]*\):$arch\$/\1/p" | sort -u)

# For each of them, from apt's policy for both architectures, one line:
#   package installed-native candidate-foreign installed-foreign native-versions foreign-versions
# each version list as version@suite,... (the suite of the first list that has it).
policy() {
    apt-cache policy "$@" | awk -v arch=":$arch" '
        function put() {
            if (version != "") { versions = versions (versions == "" ? "" : ",") version "@" where }
            version = ""
        }
        function flush() {
            put()
            if (pkg != "") {
                print pkg, side, installed, candidate, versions == "" ? "-" : versions
            }
            pkg = ""; versions = ""
        }
        /^[^ ]/ {
            flush()
            pkg = $1; sub(/:$/, "", pkg); side = "native"
            if (substr(pkg, length(pkg) - length(arch) + 1) == arch) {
                side = "foreign"; pkg = substr(pkg, 1, length(pkg) - length(arch))
            }
            next
        }
        /^  Installed:/ { installed = $2; next }
        /^  Candidate:/ { candidate = $2; next }
        /^ (\*\*\*|   ) [^ ]/ { put(); version = $1 == "***" ? $2 : $1; where = ""; next }
        /^        [0-9-]+ / && version != "" {
            suite = ($2 == "/var/lib/dpkg/status") ? "installed" : $3
            sub(/\/.*/, "", suite)
            if (where == "" || where == "installed") { where = suite }
        }
        END { flush() }'
}

declare -A native_installed native_versions foreign_candidate foreign_installed foreign_versions
if [[ ${#needed[@]} -gt 0 ]]; then
    while read -r pkg which installed candidate versions; do
        if [[ $which == native ]]; then
            native_installed[$pkg]=$installed
            native_versions[$pkg]=$versions
        else
            foreign_candidate[$pkg]=$candidate
            foreign_installed[$pkg]=$installed
            foreign_versions[$pkg]=$versions
        fi
    done < <(policy "${needed[@]}" "${needed[@]/%/:$arch}")
fi

suite_of() { # suite_of VERSION LIST
    local item
    for item in ${2//,/ }; do
        [[ ${item%@*} == "$1" ]] && { echo "${item#*@}"; return; }
    done
    return 1
}

# Read whole before it is searched: grep -q would stop reading at the first match, and
# apt-cache, writing on, would fail the pipe.
multi_arch_same() {
    local fields
    fields=$(apt-cache show "$1:$native=$2" 2>/dev/null) || return 1
    grep -qx 'Multi-Arch: same' <<<"$fields"
}

# The libraries installed for the native architecture at a version ARCH has not: each takes
# ARCH's candidate, which the native lists must offer too. One for which they do not is left
# as it is: apt may not need it (an alternative it does not take).
named=() changes=() unmatched=()
for pkg in "${needed[@]}"; do
    installed=${native_installed[$pkg]:-"(none)"}
    [[ $installed == "(none)" ]] && continue
    suite_of "$installed" "${foreign_versions[$pkg]:--}" >/dev/null && continue
    multi_arch_same "$pkg" "$installed" || continue
    wanted=${foreign_candidate[$pkg]:-"(none)"}
    if [[ $wanted == "(none)" ]] || ! to=$(suite_of "$wanted" "${native_versions[$pkg]}"); then
        unmatched+=("$pkg ($installed installed)")
        continue
    fi
    from=$(suite_of "$installed" "${native_versions[$pkg]}") || from=installed
    named+=("$pkg:$native=$wanted")
    changes+=("$pkg $installed $wanted $from $to")
done
if [[ ${#named[@]} -eq 0 && ${#unmatched[@]} -eq 0 ]]; then
    echo "install-matching: the lists of $native and $arch agree on what $name needs," \
        "so matching versions cannot help" >&2
    exit 1
fi

# apt's plan: the install itself, simulated (-s), so that the plan is made with the install's
# own options; it must succeed and remove nothing. A named library whose twin for ARCH the plan
# does not install, and that is not installed for ARCH already, is not concerned: it is left
# as it is, and the plan made again without it.
install=(install -y -q --allow-downgrades "$@")
plan() {
    apt_get -s "${install[@]}" "${named[@]}" 2>&1
}
for _ in 1 2; do
    if ! log=$(plan); then
        if [[ ${#unmatched[@]} -gt 0 ]]; then
            echo "install-matching: installed for $native, and offered at no version for both" \
                "$native and $arch: $(printf '%s, ' "${unmatched[@]}" | sed 's/, $//')" >&2
        else
            reason=$(grep -E '^E: ' <<<"$log" | head -n 1)
            echo "install-matching: ${reason:-apt-get failed} (with ${named[*]})" >&2
        fi
        exit 1
    fi
    kept=() kept_changes=()
    for i in "${!named[@]}"; do
        pkg=${named[$i]%%:*}
        if grep -q "^Inst $pkg:$arch " <<<"$log" ||
            [[ ${foreign_installed[$pkg]:-"(none)"} != "(none)" ]]; then
            kept+=("${named[$i]}")
            kept_changes+=("${changes[$i]}")
        fi
    done
    [[ ${#kept[@]} -eq ${#named[@]} ]] && break
    named=("${kept[@]}")
    changes=("${kept_changes[@]}")
done
if grep -q '^Remv ' <<<"$log"; then
    echo "install-matching: apt would remove $(sed -n 's/^Remv \([^ ]*\).*/\1/p' <<<"$log" |
        tr '\n' ' ')to do it" >&2
    exit 1
fi

# The one line: the step backs, grouped by the suites they go from and to, then any library
# brought up to the version ARCH has.
declare -A back
up=()
for change in "${changes[@]}"; do
    read -r pkg installed wanted from to <<<"$change"
    if dpkg --compare-versions "$wanted" lt "$installed"; then
        back["from $from to $to"]+="${back["from $from to $to"]:+, }$pkg $installed -> $wanted"
    else
        up+=("$pkg $installed -> $wanted")
    fi
done
line="install-deps: $name needs the same library versions for $native and $arch"
for suites in "${!back[@]}"; do
    line+="; stepped back $suites: ${back[$suites]}"
done
if [[ ${#up[@]} -gt 0 ]]; then
    line+="; brought up to the $arch lists' versions: $(printf '%s, ' "${up[@]}")"
    line=${line%, }
fi
echo "$line"
apt_get "${install[@]}" "${named[@]}"
