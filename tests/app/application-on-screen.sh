#!/usr/bin/env bash
# Drives the updater from outside, on the X display it is given, the way a person would:
# closing the window with and without an update, a second launch, and a whole update on an
# in-memory device. Saves a screenshot of each state into the folder given.
# Usage: application-on-screen.sh UPDATER UPDATER_WITH_DEVICE X11_CLOSE SCREENSHOT_DIR
set -euo pipefail

updater=$1
updater_with_device=$2
close_request=$3
shots=$4
mkdir -p "$shots"
: >"$shots/updaters.log" # what the updaters print (ALSA complains without a MIDI sequencer)

main_title='^Tavrek KX Firmware Updater$'
confirm_title='^Important Firmware Update Information$'
aborted_title='^Firmware Update Aborted$'
quit_title='^Update In Progress$'

failures=0
passes=0
pids=()
trap 'for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done' EXIT

check() { # DESCRIPTION COMMAND...
    local what=$1
    shift
    if "$@"; then
        echo "ok: $what"
        passes=$((passes + 1))
    else
        echo "FAILED: $what"
        failures=$((failures + 1))
    fi
}

find_window() { timeout 10 xdotool search --sync --onlyvisible --name "$1" 2>/dev/null | head -n 1 || true; }
window_count() { { xdotool search --onlyvisible --name "$1" 2>/dev/null || true; } | wc -l; }
gone() { for _ in $(seq 50); do [ "$(window_count "$1")" -eq 0 ] && return 0; sleep 0.1; done; return 1; }
alive() { kill -0 "$1" 2>/dev/null; }

# Waits up to SECONDS for the process to end; true if it ended with status 0.
exits_cleanly() {
    local pid=$1 seconds=$2
    for _ in $(seq $((seconds * 10))); do
        if ! alive "$pid"; then
            wait "$pid"
            return $?
        fi
        sleep 0.1
    done
    return 1
}

press() { # WINDOW KEY: focus the window and press the key the way a hand does
    xdotool windowfocus --sync "$1"
    xdotool keydown "$2" sleep 0.1 keyup "$2"
}

click_update() { xdotool mousemove --window "$1" 405 417 click 1; }
shoot() { import -window root "$shots/$1.png"; echo "screenshot: $shots/$1.png"; }

start() { # PROGRAM: starts it and waits for its window
    "$1" 2>>"$shots/updaters.log" &
    started_pid=$!
    pids+=("$started_pid")
    started_window=$(find_window "$main_title")
    [ -n "$started_window" ] || { echo "FAILED: no window from $1"; exit 1; }
    sleep 0.5
}

"$close_request" intern

echo "--- closing without an update"
start "$updater"
shoot idle
"$close_request" "$started_window"
check "closing the idle window quits at once, without asking" exits_cleanly "$started_pid" 5

echo "--- closing while an aborted update is on screen"
start "$updater"
app=$started_pid
win=$started_window
click_update "$win"
dialog=$(find_window "$confirm_title")
check "Update asks for confirmation" test -n "$dialog"
press "$dialog" Return
notice=$(find_window "$aborted_title")
check "OK without a device ends in the abort notice" test -n "$notice"
sleep 0.3
shoot aborted
"$close_request" "$win"
box=$(find_window "$quit_title")
check "closing before the notice is dismissed asks first" test -n "$box"
shoot quit-confirmation
press "$box" Escape
check "Cancel closes the question" gone "$quit_title"
sleep 0.5
check "Cancel leaves the updater running" alive "$app"
check "Cancel leaves its window open" test "$(window_count "$main_title")" -eq 1
press "$notice" Return
check "the abort notice goes when dismissed" gone "$aborted_title"
"$close_request" "$win"
check "after the notice is dismissed closing quits without asking" exits_cleanly "$app" 5

echo "--- a second launch"
start "$updater"
first=$started_pid
first_window=$started_window
"$updater" 2>>"$shots/updaters.log" &
second=$!
pids+=("$second")
check "a second instance ends by itself" exits_cleanly "$second" 10
check "the first instance goes on" alive "$first"
check "only one window is open" test "$(window_count "$main_title")" -eq 1
"$close_request" "$first_window"
check "the first instance then quits" exits_cleanly "$first" 5

echo "--- a whole update on a device"
start "$updater_with_device"
app=$started_pid
win=$started_window
sleep 1
shoot detected
click_update "$win"
dialog=$(find_window "$confirm_title")
check "Update asks for confirmation on a device" test -n "$dialog"
press "$dialog" Return
check "OK starts the transfer" gone "$confirm_title"
sleep 3
shoot mid-update
"$close_request" "$win"
box=$(find_window "$quit_title")
check "closing during the transfer asks first" test -n "$box"
press "$box" Escape
check "Cancel closes the question" gone "$quit_title"
before=$(import -window "$win" rgb:- | md5sum)
sleep 2
after=$(import -window "$win" rgb:- | md5sum)
check "the transfer goes on after Cancel" test "$before" != "$after"
check "the updater still runs" alive "$app"
"$close_request" "$win"
box=$(find_window "$quit_title")
check "closing again asks again" test -n "$box"
press "$box" Return
check "Yes quits in the middle of the transfer, cleanly" exits_cleanly "$app" 10

echo "$passes passed, $failures failed"
[ "$failures" -eq 0 ]
