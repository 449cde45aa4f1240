#!/usr/bin/env bash
# End-to-end run of keyreport on a desktop: its own Xvfb on a free display number, the two
# boxes found by their title and closed with the Return key, one after the other.
#
#   desktop_box_test.sh KEYREPORT WORKDIR
#
# Screenshots of each box (whole screen and window alone) are left in WORKDIR/screens.
# Exits 77 (skipped) when Xvfb, xdotool, xwininfo or import is not installed, or fails then
# if KEYREPORT_REQUIRE_DESKTOP is 1 (scripts/test-all.sh sets it, so that CI never skips).
set -uo pipefail

keyreport=$(realpath "$1")
work=$(realpath -m "$2")
for tool in Xvfb xdotool xwininfo import; do
    if ! command -v "$tool" >/dev/null; then
        echo "SKIP: $tool is not installed (scripts/install-deps.sh installs it)"
        [[ ${KEYREPORT_REQUIRE_DESKTOP:-0} == 1 ]] && exit 1
        exit 77
    fi
done

rm -rf "$work"
mkdir -p "$work/screens"
failures=0
xvfb_pid=
run_pid=

fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

# Ends a run that is stuck, so that the next case starts alone.
stop_run() {
    kill "$run_pid" 2>/dev/null
    wait "$run_pid" 2>/dev/null
    run_pid=
}

cleanup() {
    [[ -n $run_pid ]] && kill "$run_pid" 2>/dev/null
    [[ -n $xvfb_pid ]] && kill "$xvfb_pid" 2>/dev/null
    wait 2>/dev/null
}
trap cleanup EXIT

# Runs keyreport with the address layout fixed, so that two runs print the same addresses.
if setarch -R true 2>/dev/null; then
    fixed_layout=(setarch -R)
else
    fixed_layout=()
fi

# Waits up to 30 s for a command to succeed.
await() {
    local tries
    for ((tries = 0; tries < 300; ++tries)); do
        if "$@"; then
            return 0
        fi
        sleep 0.1
    done
    return 1
}

# The ids of the top-level windows titled "Error".
error_windows() {
    DISPLAY=$display xwininfo -root -tree 2>/dev/null |
        sed -n 's/^ *\(0x[0-9a-f]*\) "Error": .*/\1/p'
}

one_error_window() { [[ $(error_windows | wc -l) -eq 1 ]]; }

# Standard output has grown to the given size and holds one "Error" window.
shown_after() { [[ $(stat -c %s "$1/stdout" 2>/dev/null || echo 0) -ge $2 ]] && one_error_window; }

# Size of the first N dumps of a headless output, each with its empty line after it.
dumps_size() {
    local file=$1 count=$2
    head -n $((count * 4)) "$file" | wc -c
}

# Starts the X server; it picks a free display and writes its number to fd 3. Two defaults of
# an X server make a busy machine's runs fail now and again, so both are turned off:
# -noreset: the server resets when its last client leaves and drops a client that connects
#   meanwhile, such as the second box, which connects right after the first one has gone;
# -r: a key held longer than the repeat delay (a key press and release that arrive late)
#   repeats, and the repeats close the next box too.
exec 3>"$work/display-number"
Xvfb -displayfd 3 -screen 0 640x400x24 -nolisten tcp -noreset -r >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
exec 3>&-
if ! await test -s "$work/display-number"; then
    echo "FAIL: Xvfb did not start"
    cat "$work/xvfb.log"
    exit 1
fi
display=:$(head -n 1 "$work/display-number")

# Closes a box by a key (Return, Escape) or by a click on its OK button (click), which SDL
# centres at the bottom of the box.
close_box() {
    local id=$1 how=$2
    if [[ $how == click ]]; then
        local width height
        width=$(DISPLAY=$display xwininfo -id "$id" | sed -n 's/^ *Width: //p')
        height=$(DISPLAY=$display xwininfo -id "$id" | sed -n 's/^ *Height: //p')
        DISPLAY=$display xdotool mousemove --window "$id" $((width / 2)) $((height - 28)) \
            click 1 2>/dev/null
    else
        DISPLAY=$display xdotool key --window "$id" "$how" 2>/dev/null
    fi
}

# One case: the file's two boxes on the desktop, compared with a headless run.
#   desktop_case NAME FILE-CONTENT (with \x escapes) CLOSE-FIRST CLOSE-SECOND
desktop_case() {
    local name=$1 dir="$work/$1"
    local closers=("$3" "$4")
    mkdir -p "$dir/headless" "$dir/desktop"
    printf %b "$2" >"$dir/headless/Test.txt"
    cp "$dir/headless/Test.txt" "$dir/desktop/Test.txt"

    (cd "$dir/headless" &&
        env -u DISPLAY -u WAYLAND_DISPLAY "${fixed_layout[@]}" "$keyreport" \
            </dev/null >stdout 2>stderr)
    local first second
    first=$(dumps_size "$dir/headless/stdout" 1)
    second=$(dumps_size "$dir/headless/stdout" 2)

    (cd "$dir/desktop" &&
        exec env -u WAYLAND_DISPLAY DISPLAY="$display" "${fixed_layout[@]}" "$keyreport" \
            </dev/null >stdout 2>stderr) &
    run_pid=$!

    local box
    for box in 1 2; do
        local size=$first
        [[ $box -eq 2 ]] && size=$second
        if ! await shown_after "$dir/desktop" "$size"; then
            fail "$name: box $box did not appear"
            stop_run
            return
        fi
        local id
        id=$(error_windows)
        DISPLAY=$display import -window root "$work/screens/$name-box$box.png"
        DISPLAY=$display import -window "$id" "$work/screens/$name-box$box-window.png"
        # The run waits in the box: nothing past this key's dump has been written yet, and the
        # box is still the only one.
        if [[ $(stat -c %s "$dir/desktop/stdout") -ne $size || $(error_windows) != "$id" ]]; then
            fail "$name: the run went on while box $box was open"
        fi
        close_box "$id" "${closers[box - 1]}"
    done

    local status
    if ! await bash -c "! kill -0 $run_pid 2>/dev/null"; then
        fail "$name: the run did not end after the second box"
        stop_run
        return
    fi
    wait "$run_pid"
    status=$?
    run_pid=
    [[ $status -eq 0 ]] || fail "$name: exit code $status"
    [[ -s $dir/desktop/stderr ]] && fail "$name: standard error is not empty: $(cat "$dir/desktop/stderr")"
    cmp -s "$dir/headless/stdout" "$dir/desktop/stdout" ||
        fail "$name: standard output differs from the headless run"
    echo "ok: $name"
}

desktop_case example 'str1=hello&str2=world&' Return Escape
# Bytes that are not UTF-8 (Windows-1252 text) still make a box, not the fallback.
desktop_case ansi 'str2=\x80uro \x81&str1=caf\xe9 na\xefve&' click Return
# A UTF-8 file, as Linux users keep their text: its characters reach the box unchanged.
desktop_case utf8 'str1=h\xc3\xa9llo \xe2\x82\xac&str2=na\xc3\xafve \xce\xb1\xce\xb2\xce\xb3&' Return Return

exit $((failures > 0))
