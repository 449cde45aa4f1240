#!/usr/bin/env bash
# End-to-end runs of keyreport on a desktop, on a private session bus with the accessibility
# bus: on its own Xvfb on a free display number, and on a headless weston with no X. Each box
# is found, read and closed as a user or a screen reader would, one after the other: GTK's
# dialog through AT-SPI (its text and its push buttons, then OK pressed by its action) or by
# keys, and SDL2's box, with GTK hidden, by keys or a click. Every X box must lie wholly on
# the 1024x768 screen, and be gone from it once the run goes on. Other rows end a box another
# way: the display server killed under it or before it, the program killed while it shows.
#
#   desktop_box_test.sh KEYREPORT WORKDIR
#
# Screenshots of each X box (whole screen and window alone) are left in WORKDIR/screens.
# Exits 77 (skipped) when a tool is not installed, or fails then if KEYREPORT_REQUIRE_DESKTOP
# is 1 (scripts/test-all.sh sets it, so that CI never skips).
set -uo pipefail

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
work=$(realpath -m "$2")
atspi_box=$(dirname "$(realpath "$0")")/atspi_box.py
# The whole test runs on a session bus of its own, which starts the accessibility bus when
# GTK's bridge first asks for it, and ends both with the test. The bus, and what it starts,
# keep their sockets and caches in the test's own folders, not the user's, so that two runs
# on one machine do not share an accessibility bus.
if [[ -z ${KEYREPORT_TEST_BUS:-} ]]; then
    rm -rf "$work"
    mkdir -p "$work/runtime" "$work/cache" "$work/config" "$work/data"
    chmod 700 "$work/runtime"
    export XDG_RUNTIME_DIR=$work/runtime XDG_CACHE_HOME=$work/cache \
        XDG_CONFIG_HOME=$work/config XDG_DATA_HOME=$work/data
    KEYREPORT_TEST_BUS=1 exec dbus-run-session -- bash "$0" "$@"
fi

mkdir -p "$work/screens" "$work/no-gtk" "$work/zenity"
# An empty file under GTK's name ends the loader's search, so that SDL2 shows the box.
: >"$work/no-gtk/libgtk-3.so.0"
# First on the search path, a zenity that cannot show a box, as one without a display exits,
# and that leaves a mark when it runs: SDL2 would hand it a box that it could not show itself,
# and take its exit as the box shown and closed.
printf '#!/bin/sh\n: >"%s"\necho "cannot open display: $DISPLAY" >&2\nexit 1\n' \
    "$work/zenity-ran" >"$work/zenity/zenity"
chmod +x "$work/zenity/zenity"
export PATH=$work/zenity:$PATH
failures=0
xvfb_pid=
weston_pid=
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
    [[ -n $weston_pid ]] && kill "$weston_pid" 2>/dev/null
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
start_x() {
    rm -f "$work/display-number"
    exec 3>"$work/display-number"
    Xvfb -displayfd 3 -screen 0 ${screen}x24 -nolisten tcp -noreset -r >"$work/xvfb.log" 2>&1 &
    xvfb_pid=$!
    exec 3>&-
    ready Xvfb "$work/xvfb.log" test -s "$work/display-number"
    display=:$(head -n 1 "$work/display-number")
}

# The headless Wayland compositor, on a socket in a runtime folder of the test's own.
start_weston() {
    weston --backend=headless-backend.so --socket="$wayland" --idle-time=0 \
        >"$work/weston.log" 2>&1 &
    weston_pid=$!
    ready weston "$work/weston.log" test -S "$XDG_RUNTIME_DIR/$wayland"
}

# Waits for a display server to be ready, or ends the test with its log.
#   ready NAME LOG CONDITION...
ready() {
    await "${@:3}" && return
    echo "FAIL: $1 did not start"
    cat "$2"
    exit 1
}

screen=1024x768
wayland="keyreport-test"
start_x
start_weston

# Closes a box by a key (Return, Escape), by a click on SDL2's OK button (click), which it
# centres at the bottom of the box, or through AT-SPI, by the action of the button named OK,
# having checked the box's text and buttons there (atspi, the only way on Wayland). Or ends it
# otherwise: kill-display kills the display server under it; pause-kill-display closes it by
# Return while the run is stopped, then kills the server before the run goes on to the next
# box; kill-run kills the program.
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
            await no_error_window || fail "$name: the box did not close"
        fi
        kill "$server"
        wait "$server" 2>/dev/null
        [[ $how == pause-kill-display ]] && kill -CONT "$run_pid"
    elif [[ $how == kill-run ]]; then
        local left
        left=$(descendants "$run_pid")
        kill -KILL "$run_pid"
        await ended "$left" ||
            fail "$name: processes outlived the program: $(ps -o pid,args -p "$left")"
        await no_error_window || fail "$name: a box outlived the program"
    elif [[ $how == atspi ]]; then
        local seen
        seen=$("$python" "$atspi_box" OK 2>&1)
        [[ $seen == "text: $3"$'\n'"buttons: OK" ]] ||
            fail "$name: the box as a screen reader finds it: $seen"
    elif [[ $how == click ]]; then
        local size
        size=$(window_size "$id")
        DISPLAY=$display xdotool mousemove --window "$id" $((${size%x*} / 2)) \
            $((${size#*x} - 28)) click 1 2>/dev/null
    else
        DISPLAY=$display xdotool windowfocus --sync "$id" key "$how" 2>/dev/null
    fi
}

# The size of an X window, as WIDTHxHEIGHT.
window_size() {
    DISPLAY=$display xwininfo -id "$1" | sed -n 's/^ *Width: //p; s/^ *Height: //p' | paste -sdx
}

# Whether an X window lies wholly on the screen.
on_screen() {
    local x y width height
    read -r x y width height <<<"$(DISPLAY=$display xwininfo -id "$1" |
        sed -n 's/^ *Absolute upper-left [XY]: *//p; s/^ *Width: //p; s/^ *Height: //p' |
        paste -sd' ')"
    ((x >= 0 && y >= 0 && x + width <= ${screen%x*} && y + height <= ${screen#*x}))
}

# Whether no "Error" window is left on the display.
no_error_window() {
    [[ -z $(error_windows) ]]
}

# Whether each of the processes (ids separated by commas) has ended: is gone or a zombie.
ended() {
    ! ps -o stat= -p "$1" | grep -qv Z
}

# The processes a process has started, and theirs, by process id, separated by commas.
descendants() {
    local child
    for child in $(pgrep -P "$1"); do
        printf '%s,' "$child"
        descendants "$child"
    done | sed 's/,$//'
}

# Whether a file has grown past a size.
grown() {
    [[ $(stat -c %s "$1") -gt $2 ]]
}

# Whether no more "Error" windows are viewable than the run has box processes: a box that
# lingers on the display once its process has ended fails it. The windows are counted first,
# so that a box that appears meanwhile has its process counted too.
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
#   [errors=TEXT] desktop_case NAME SESSION (x11, x11-sdl: GTK hidden, wayland) CLOSE-FIRST
#                CLOSE-SECOND FILE-CONTENT FIRST-TEXT SECOND-TEXT (with \x escapes) [ENV...]
# The texts are what each box shows, as AT-SPI reads them. errors is what standard error must
# hold, nothing unless set. Once a closer has killed the display no more boxes are awaited,
# and the server is started again after the case; after kill-run the case ends there.
desktop_case() {
    local name=$1 session=$2 dir="$work/$1" failed=$failures
    local closers=("$3" "$4")
    local texts=("$(printf %b "$6")" "$(printf %b "$7")")
    local environment=(-u WAYLAND_DISPLAY DISPLAY="$display" "${@:8}")
    [[ $session == x11-sdl ]] && environment+=(LD_LIBRARY_PATH="$work/no-gtk")
    [[ $session == wayland ]] && environment=(-u DISPLAY WAYLAND_DISPLAY="$wayland" "${@:8}")
    mkdir -p "$dir/headless" "$dir/desktop"
    printf %b "$5" >"$dir/headless/Test.txt"
    cp "$dir/headless/Test.txt" "$dir/desktop/Test.txt"

    (cd "$dir/headless" &&
        env -u DISPLAY -u WAYLAND_DISPLAY "${fixed_layout[@]}" "$keyreport" \
            </dev/null >stdout 2>stderr)
    local first second
    first=$(dumps_size "$dir/headless/stdout" 1)
    second=$(dumps_size "$dir/headless/stdout" 2)

    (cd "$dir/desktop" &&
        exec env "${environment[@]}" "${fixed_layout[@]}" "$keyreport" \
            </dev/null >stdout 2>stderr) &
    run_pid=$!

    local box restart=
    for box in 1 2; do
        local size=$first
        [[ $box -eq 2 ]] && size=$second
        [[ -n $restart ]] && break
        if ! await shown_on "$session" "$dir/desktop" "$size"; then
            fail "$name: box $box did not appear"
            stop_run
            return
        fi
        local id=
        if [[ $session != wayland ]]; then
            id=$(error_windows)
            window_size "$id" >"$dir/box$box-size"
            on_screen "$id" || fail "$name: box $box is not wholly on the screen"
            DISPLAY=$display import -window root "$work/screens/$name-box$box.png"
            DISPLAY=$display import -window "$id" "$work/screens/$name-box$box-window.png"
        fi
        # The run waits in the box: nothing past this key's dump has been written yet, and the
        # box is still the only one.
        if [[ $(stat -c %s "$dir/desktop/stdout") -ne $size ||
            ($session != wayland && $(error_windows) != "$id") ]]; then
            fail "$name: the run went on while box $box was open"
        fi
        local closer=${closers[box - 1]}
        close_box "$id" "$closer" "${texts[box - 1]}" "$session"
        if [[ $closer == kill-run ]]; then
            wait "$run_pid" 2>/dev/null
            run_pid=
            case_ended "$name" "$failed"
            return
        fi
        # Once the run has gone on, to the next dump or the prompt, the closed box has gone.
        if [[ $session != wayland && -z $restart ]]; then
            await grown "$dir/desktop/stdout" "$size"
            no_closed_box || fail "$name: box $box stayed on the display after it closed"
        fi
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
    [[ $(cat "$dir/desktop/stderr"; echo .) == "$(printf %b "${errors:-}"; echo .)" ]] ||
        fail "$name: standard error is not as expected: $(cat "$dir/desktop/stderr")"
    cmp -s "$dir/headless/stdout" "$dir/desktop/stdout" ||
        fail "$name: standard output differs from the headless run"
    [[ -n $restart ]] && $restart
    case_ended "$name" "$failed"
}

# The end of a case: no box was handed to zenity, and the case says ok unless it failed.
#   case_ended NAME FAILURES-BEFORE-IT
case_ended() {
    [[ -e $work/zenity-ran ]] && fail "$1: a box was handed to zenity"
    rm -f "$work/zenity-ran"
    ((failures > $2)) || echo "ok: $1"
}

example='str1=hello&str2=world&'
# GTK's dialog on X, read and closed through AT-SPI: ASCII, UTF-8 of 2, 3 and 4 bytes, and
# bytes that are not UTF-8 (Windows-1252 text), which still make a box, not the fallback.
# Markup and a format directive in a value show as they are.
desktop_case example x11 atspi atspi "$example" str1=hello str2=world
desktop_case utf8 x11 atspi atspi \
    'str1=h\xc3\xa9llo \xe2\x82\xac&str2=\xf0\x9f\x98\x80 \xce\xb1\xce\xb2&' \
    'str1=h\xc3\xa9llo \xe2\x82\xac' 'str2=\xf0\x9f\x98\x80 \xce\xb1\xce\xb2'
desktop_case ansi x11 atspi atspi 'str2=\x80uro \x81 %s&str1=caf\xe9 <b>na\xefve</b>&' \
    'str1=caf\xc3\xa9 <b>na\xc3\xafve</b>' 'str2=\xe2\x82\xacuro \xc2\x81 %s'
# Return presses OK, and Escape closes the box too.
desktop_case keys x11 Return Escape "$example" str1=hello str2=world
# On a screen of twice the density, the box is twice the size.
desktop_case example-scale2 x11 atspi atspi "$example" str1=hello str2=world GDK_SCALE=2
# GTK as a Wayland client, with no X server to fall back on.
desktop_case wayland wayland atspi atspi "$example" str1=hello str2=world
# Without GTK, SDL2's box on X: keys and its button; UTF-8 and Windows-1252 text alike.
desktop_case sdl-example x11-sdl Return Escape "$example" str1=hello str2=world
desktop_case sdl-ansi x11-sdl click Return 'str2=\x80uro \x81&str1=caf\xe9 na\xefve&' '' ''
desktop_case sdl-utf8 x11-sdl Return Return \
    'str1=h\xc3\xa9llo \xe2\x82\xac&str2=na\xc3\xafve \xce\xb1\xce\xb2\xce\xb3&' '' ''

# Values too wide or too tall for the screen: a word longer than a line, a URL with a long
# token, 120 line feeds between two words. GTK's box breaks and scrolls them whole; SDL2's
# breaks them, and shows the start of a text with more lines than fit, which then goes to
# standard error too.
long_word=str1=$(printf 'W%.0s' {1..250})
url="str2=https://example.com/account/confirm?token=$(printf '0123456789abcdef%.0s' {1..10})"
line_feeds=str1=top$(printf '\\n%.0s' {1..120})bottom
desktop_case long-values x11 atspi atspi "$long_word&$url&" "$long_word" "$url"
# At three times the density the screen is 341 points wide: the box, wider than that, scrolls.
desktop_case long-values-scale3 x11 atspi atspi "$long_word&$url&" "$long_word" "$url" GDK_SCALE=3
desktop_case line-feeds x11 atspi Return "$line_feeds&str2=hello&" "$line_feeds" str2=hello
desktop_case sdl-long-values x11-sdl Return Return "$long_word&$url&" '' ''
errors="$line_feeds\n" desktop_case sdl-line-feeds x11-sdl Return Return \
    "$line_feeds&str2=hello&" '' ''

# The display goes away with a box open, or between two boxes: the values that no closed box
# showed go to standard error, and the run goes on to the prompt. The program killed with a
# box open takes the box and its process with it.
both='str1=hello\nstr2=world\n'
errors=$both desktop_case x-killed x11 kill-display - "$example" '' ''
errors=$both desktop_case sdl-x-killed x11-sdl kill-display - "$example" '' ''
errors='str2=world\n' desktop_case x-killed-between x11 pause-kill-display - "$example" '' ''
errors=$both desktop_case weston-killed wayland kill-display - "$example" '' ''
desktop_case program-killed x11 kill-run - "$example" '' ''
desktop_case sdl-program-killed x11-sdl kill-run - "$example" '' ''

for box in 1 2; do
    single=$(cat "$work/example/box$box-size" 2>/dev/null)
    double=$(cat "$work/example-scale2/box$box-size" 2>/dev/null)
    [[ -n $single && $double == "$((${single%x*} * 2))x$((${single#*x} * 2))" ]] ||
        fail "box $box is $single at scale 1 and $double at GDK_SCALE=2"
done

exit $((failures > 0))
