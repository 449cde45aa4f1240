#!/usr/bin/env bash
# keyreport's boxes on a desktop, found, read and closed as a user or a screen reader would:
# docs/testing.md tells the rows, the displays and the tools.
#
#   desktop_box_test.sh KEYREPORT WORKDIR
#
# Exits 77 (skipped) when a tool is not installed, or fails if KEYREPORT_REQUIRE_DESKTOP is 1
# (scripts/test-all.sh sets it).
set -uo pipefail
# shellcheck source=../../script_lib.sh
source "$(dirname "$(realpath "$0")")/../../script_lib.sh"

python=/usr/bin/python3 # the system's, for which pyatspi is installed
skip() {
    echo "SKIP: $1 is not installed (scripts/install-deps.sh installs it)"
    [[ ${KEYREPORT_REQUIRE_DESKTOP:-0} == 1 ]] && exit 1
    exit 77
}
for tool in Xvfb xdotool xwininfo import weston dbus-run-session "$python"; do
    command -v "$tool" >/dev/null || skip "$tool"
done
"$python" -c 'import pyatspi' 2>/dev/null || skip "pyatspi (python3-pyatspi)"

keyreport=$(realpath "$1")
atspi_box=$(dirname "$(realpath "$0")")/atspi_box.py
# A session bus of the test's own, which starts the accessibility bus when GTK asks for it.
# Its sockets and caches are in the test's folders, so that two runs never share one.
if [[ -z ${KEYREPORT_TEST_BUS:-} ]]; then
    new_work "$2"
    mkdir -p "$work/runtime" "$work/cache" "$work/config" "$work/data"
    chmod 700 "$work/runtime"
    export XDG_RUNTIME_DIR=$work/runtime XDG_CACHE_HOME=$work/cache \
        XDG_CONFIG_HOME=$work/config XDG_DATA_HOME=$work/data
    KEYREPORT_TEST_BUS=1 exec dbus-run-session -- bash "$0" "$@"
fi
work=$(realpath -m "$2")

mkdir -p "$work/screens" "$work/no-gtk"
# An empty file under GTK's name ends the loader's search, so that SDL2 shows the box.
: >"$work/no-gtk/libgtk-3.so.0"
# First on the search path, a zenity that cannot show a box and leaves a mark when it runs:
# SDL2 would hand it a box that it could not show itself, and take its exit as the box closed.
stand_in_zenity "$work/zenity" "$work/zenity-ran"
export PATH=$work/zenity:$PATH
xvfb_pid='' weston_pid='' run_pid=''

cleanup() {
    kill $run_pid $xvfb_pid $weston_pid 2>/dev/null
    wait 2>/dev/null
}
trap cleanup EXIT

# Waits for a display server to be ready, or ends the test with its log.
#   ready NAME LOG CONDITION...
ready() {
    await "${@:3}" && return
    echo "FAIL: $1 did not start"
    cat "$2"
    exit 1
}

# The X server picks a free display and writes its number to fd 3. -noreset: else it resets
# when its last client leaves and drops one that connects meanwhile, such as the second box;
# -r: else a key press and release that arrive late repeat, and close the next box too.
start_x() {
    rm -f "$work/display-number"
    exec 3>"$work/display-number"
    Xvfb -displayfd 3 -screen 0 ${screen}x24 -nolisten tcp -noreset -r >"$work/xvfb.log" 2>&1 &
    xvfb_pid=$!
    exec 3>&-
    ready Xvfb "$work/xvfb.log" test -s "$work/display-number"
    display=:$(head -n 1 "$work/display-number")
}

# The headless Wayland compositor, on a socket in the test's runtime folder.
start_weston() {
    weston --backend=headless-backend.so --socket="$wayland" --idle-time=0 \
        >"$work/weston.log" 2>&1 &
    weston_pid=$!
    ready weston "$work/weston.log" test -S "$XDG_RUNTIME_DIR/$wayland"
}

screen=1024x768
wayland="keyreport-test"
start_x
start_weston

# Closes a box by a key (Return, Escape), by a click on SDL2's OK button, centred at the
# bottom of the box, or through AT-SPI by the action of the button OK, having checked the
# box's text and buttons there (atspi, the only way on Wayland). Or ends it otherwise:
# kill-display kills the display server under it; pause-kill-display closes it by Return with
# the run stopped, then kills the server before the run goes on; kill-run kills the program.
#   close_box WINDOW-ID HOW EXPECTED-TEXT SESSION
close_box() {
    local id=$1 how=$2
    if [[ $how == kill-display || $how == pause-kill-display ]]; then
        local server=$xvfb_pid
        restart=start_x # the case's own: what starts the server again after it
        [[ $4 == wayland ]] && server=$weston_pid restart=start_weston
        if [[ $how == pause-kill-display ]]; then
            kill -STOP "$run_pid"
            close_box "$id" Return
            await no_error_window || fail "the box did not close"
        fi
        kill "$server"
        wait "$server" 2>/dev/null
        [[ $how == pause-kill-display ]] && kill -CONT "$run_pid"
    elif [[ $how == kill-run ]]; then
        local left
        left=$(descendants "$run_pid")
        kill -KILL "$run_pid"
        await ended "$left" || fail "processes outlived the program: $(ps -o pid,args -p "$left")"
        await no_error_window || fail "a box outlived the program"
    elif [[ $how == atspi ]]; then
        local seen
        seen=$("$python" "$atspi_box" OK 2>&1)
        [[ $seen == "text: $3"$'\n'"buttons: OK" ]] ||
            fail "the box as a screen reader finds it: $seen"
    elif [[ $how == click ]]; then
        geometry "$id"
        DISPLAY=$display xdotool mousemove --window "$id" $((width / 2)) $((height - 28)) \
            click 1 2>/dev/null
    else
        DISPLAY=$display xdotool windowfocus --sync "$id" key "$how" 2>/dev/null
    fi
}

# The ids of the top-level windows titled "Error".
error_windows() {
    DISPLAY=$display xwininfo -root -tree 2>/dev/null |
        sed -n 's/^ *\(0x[0-9a-f]*\) "Error": .*/\1/p'
}

no_error_window() { [[ -z $(error_windows) ]]; }

# Sets x, y, width and height to an X window's place and size.
geometry() {
    read -r x y width height <<<"$(DISPLAY=$display xwininfo -id "$1" |
        sed -n 's/^ *Absolute upper-left [XY]: *//p; s/^ *Width: //p; s/^ *Height: //p' |
        paste -sd' ')"
}

# Whether each of the processes (ids separated by commas) is gone or a zombie.
ended() { ! ps -o stat= -p "$1" | grep -qv Z; }

# The processes a process has started, and theirs, separated by commas.
descendants() {
    local child
    for child in $(pgrep -P "$1"); do
        printf '%s,' "$child"
        descendants "$child"
    done | sed 's/,$//'
}

grown() { [[ $(stat -c %s "$1") -gt $2 ]]; }

# Whether no more "Error" windows are viewable than the run has box processes: a box that
# lingers once its process has ended fails it. The windows are counted first, so that a box
# that appears meanwhile has its process counted too.
no_closed_box() {
    local viewable=0 id
    for id in $(error_windows); do
        DISPLAY=$display xwininfo -id "$id" 2>/dev/null | grep -q IsViewable &&
            viewable=$((viewable + 1))
    done
    ((viewable <= $(pgrep -c -P "$run_pid")))
}

# Whether standard output has grown to the given size and a box shows: on X one "Error"
# window, on Wayland a box that AT-SPI finds.
shown_on() {
    [[ $(stat -c %s "$2/stdout" 2>/dev/null || echo 0) -ge $3 ]] || return 1
    if [[ $1 == wayland ]]; then
        "$python" "$atspi_box" >/dev/null 2>&1
    else
        [[ $(error_windows | wc -l) -eq 1 ]]
    fi
}

# One case: the file's two boxes on the desktop, compared with a headless run.
#   desktop_case NAME SESSION (x11, x11-sdl: GTK hidden, wayland) CLOSE-FIRST CLOSE-SECOND
#                FILE-CONTENT FIRST-TEXT SECOND-TEXT (with \x escapes) ERRORS [ENV...]
# The texts are what each box shows, as AT-SPI reads them; ERRORS is what standard error must
# hold. Once a closer has killed the display no more boxes are awaited, and the server is
# started again after the case; after kill-run the case ends there.
desktop_case() {
    local name=$1 case_name=$1 session=$2 dir="$work/$1" failed=$failures
    local closers=("$3" "$4") texts=("$(printf %b "$6")" "$(printf %b "$7")")
    local environment=(-u WAYLAND_DISPLAY DISPLAY="$display" "${@:9}")
    [[ $session == x11-sdl ]] && environment+=(LD_LIBRARY_PATH="$work/no-gtk")
    [[ $session == wayland ]] && environment=(-u DISPLAY WAYLAND_DISPLAY="$wayland" "${@:9}")
    mkdir -p "$dir/headless" "$dir/desktop"
    printf %b "$5" | tee "$dir/desktop/Test.txt" >"$dir/headless/Test.txt"

    (cd "$dir/headless" &&
        env -u DISPLAY -u WAYLAND_DISPLAY "${fixed_layout[@]}" "$keyreport" \
            </dev/null >stdout 2>stderr)
    # Where each box shows: after the first dump, then the second, each of 4 lines.
    local sizes=("$(head -n 4 "$dir/headless/stdout" | wc -c)"
        "$(head -n 8 "$dir/headless/stdout" | wc -c)")

    (cd "$dir/desktop" &&
        exec env "${environment[@]}" "${fixed_layout[@]}" "$keyreport" \
            </dev/null >stdout 2>stderr) &
    run_pid=$!

    local box restart='' stopped=''
    for box in 1 2; do
        local size=${sizes[box - 1]} closer=${closers[box - 1]} id=
        [[ -n $restart ]] && break
        if ! await shown_on "$session" "$dir/desktop" "$size"; then
            fail "box $box did not appear"
            stopped=1
            break
        fi
        if [[ $session != wayland ]]; then
            id=$(error_windows)
            geometry "$id"
            echo "${width}x$height" >"$dir/box$box-size"
            ((x >= 0 && y >= 0 && x + width <= ${screen%x*} && y + height <= ${screen#*x})) ||
                fail "box $box is not wholly on the screen"
            DISPLAY=$display import -window root "$work/screens/$name-box$box.png"
            DISPLAY=$display import -window "$id" "$work/screens/$name-box$box-window.png"
        fi
        # The run waits in the box: nothing past this key's dump is written, and the box is
        # still the only one.
        if [[ $(stat -c %s "$dir/desktop/stdout") -ne $size ||
            ($session != wayland && $(error_windows) != "$id") ]]; then
            fail "the run went on while box $box was open"
        fi
        close_box "$id" "$closer" "${texts[box - 1]}" "$session"
        [[ $closer == kill-run ]] && stopped=1 && break
        # Once the run has gone on, to the next dump or the prompt, the closed box has gone.
        if [[ $session != wayland && -z $restart ]]; then
            await grown "$dir/desktop/stdout" "$size"
            no_closed_box || fail "box $box stayed on the display after it closed"
        fi
    done

    if [[ -z $stopped ]]; then
        if await gone "$run_pid"; then
            wait "$run_pid"
            local status=$?
            [[ $status -eq 0 ]] || fail "exit code $status"
            [[ $(cat "$dir/desktop/stderr"; echo .) == "$(printf %b "$8"; echo .)" ]] ||
                fail "standard error is not as expected: $(cat "$dir/desktop/stderr")"
            cmp -s "$dir/headless/stdout" "$dir/desktop/stdout" ||
                fail "standard output differs from the headless run"
        else
            fail "the run did not end after the second box"
        fi
    fi
    kill "$run_pid" 2>/dev/null
    wait "$run_pid" 2>/dev/null
    run_pid=
    [[ -n $restart ]] && $restart
    [[ -e $work/zenity-ran ]] && fail "a box was handed to zenity"
    rm -f "$work/zenity-ran"
    ((failures > failed)) || echo "ok: $name"
}

example='str1=hello&str2=world&'
both='str1=hello\nstr2=world\n'
# Values too wide or too tall for the screen: a word longer than a line, a URL with a long
# token, 120 line feeds between two words. GTK's box breaks and scrolls them whole; SDL2's
# breaks them, and shows the start of a text with more lines than fit, which then goes to
# standard error too.
long_word=str1=$(printf 'W%.0s' {1..250})
url="str2=https://example.com/account/confirm?token=$(printf '0123456789abcdef%.0s' {1..10})"
line_feeds=str1=top$(printf '\\n%.0s' {1..120})bottom
# NAME | SESSION | CLOSERS | FILE CONTENT | FIRST TEXT | SECOND TEXT | STANDARD ERROR | ENV
while IFS='|' read -r -u 4 name session closers content first second errors environment; do
    [[ -z $name || $name == '#'* ]] && continue
    # shellcheck disable=SC2086 # the closers and the environment are words
    desktop_case "$name" "$session" $closers "$content" "$first" "$second" "$errors" $environment
done 4<<TABLE
# GTK's dialog on X, read and closed through AT-SPI: ASCII, UTF-8 of 2, 3 and 4 bytes, and
# bytes that are not UTF-8 (Windows-1252 text), which still make a box, not the fallback.
# Markup and a format directive in a value show as they are.
example|x11|atspi atspi|$example|str1=hello|str2=world||
utf8|x11|atspi atspi|str1=h\xc3\xa9llo \xe2\x82\xac&str2=\xf0\x9f\x98\x80 \xce\xb1\xce\xb2&|\
str1=h\xc3\xa9llo \xe2\x82\xac|str2=\xf0\x9f\x98\x80 \xce\xb1\xce\xb2||
ansi|x11|atspi atspi|str2=\x80uro \x81 %s&str1=caf\xe9 <b>na\xefve</b>&|\
str1=caf\xc3\xa9 <b>na\xc3\xafve</b>|str2=\xe2\x82\xacuro \xc2\x81 %s||
# Return presses OK, and Escape closes the box too.
keys|x11|Return Escape|$example|str1=hello|str2=world||
# On a screen of twice the density, the box is twice the size.
example-scale2|x11|atspi atspi|$example|str1=hello|str2=world||GDK_SCALE=2
# GTK as a Wayland client, with no X server to fall back on.
wayland|wayland|atspi atspi|$example|str1=hello|str2=world||
# Without GTK, SDL2's box on X: keys and its button; UTF-8 and Windows-1252 text alike.
sdl-example|x11-sdl|Return Escape|$example||||
sdl-ansi|x11-sdl|click Return|str2=\x80uro \x81&str1=caf\xe9 na\xefve&||||
sdl-utf8|x11-sdl|Return Return|\
str1=h\xc3\xa9llo \xe2\x82\xac&str2=na\xc3\xafve \xce\xb1\xce\xb2\xce\xb3&||||
long-values|x11|atspi atspi|$long_word&$url&|$long_word|$url||
# At three times the density the screen is 341 points wide: the box, wider than that, scrolls.
long-values-scale3|x11|atspi atspi|$long_word&$url&|$long_word|$url||GDK_SCALE=3
line-feeds|x11|atspi Return|$line_feeds&str2=hello&|$line_feeds|str2=hello||
sdl-long-values|x11-sdl|Return Return|$long_word&$url&||||
sdl-line-feeds|x11-sdl|Return Return|$line_feeds&str2=hello&|||$line_feeds\n|
# The display goes away with a box open, or between two boxes: the values that no closed box
# showed go to standard error, and the run goes on to the prompt. The program killed with a
# box open takes the box and its process with it.
x-killed|x11|kill-display -|$example|||$both|
sdl-x-killed|x11-sdl|kill-display -|$example|||$both|
x-killed-between|x11|pause-kill-display -|$example|||str2=world\n|
weston-killed|wayland|kill-display -|$example|||$both|
program-killed|x11|kill-run -|$example||||
sdl-program-killed|x11-sdl|kill-run -|$example||||
TABLE

for box in 1 2; do
    single=$(cat "$work/example/box$box-size" 2>/dev/null)
    double=$(cat "$work/example-scale2/box$box-size" 2>/dev/null)
    [[ -n $single && $double == "$((${single%x*} * 2))x$((${single#*x} * 2))" ]] ||
        fail "box $box is $single at scale 1 and $double at GDK_SCALE=2"
done
finish
