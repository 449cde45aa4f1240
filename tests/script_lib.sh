# shellcheck shell=bash disable=SC2034 # fixed_layout is for the scripts that source this
# What the test scripts share: a count of failed checks, a fresh work folder, and the run's
# address layout fixed, so that two runs print the same addresses. Sourced by each script.
failures=0

fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

# new_work PATH: work is PATH's full name, an empty folder.
new_work() {
    work=$(realpath -m "$1")
    rm -rf "$work"
    mkdir -p "$work"
}

fixed_layout=()
setarch -R true 2>/dev/null && fixed_layout=(setarch -R)

# Ends the script: 1 where a check failed.
finish() {
    exit $((failures > 0))
}
