#!/usr/bin/env bash
# The shipped updater against the virtual KX device over a real ALSA sequencer, driven from
# outside the way a person would: find the window by its title, click "Update Firmware", answer
# the boxes with the keyboard. What the window shows is checked on screenshots, region by region,
# against the window content painted for the expected state (kx_render_window_state); what the
# device received is checked by the device itself, byte for byte.
#
# Usage: updater-end-to-end.sh SCENARIO UPDATER DEVICE X11_CLOSE RENDER FIRMWARE_DIR OUT_DIR
#   caspia  device plugged in after start: detection and its versions; a Caspia Mode update
#           completes byte-exact; dismissing the notice re-enables "Update Firmware"
#   abort   the device unplugs "KX Audio" mid-image: the abort notice, nothing more sent on
#           any port, the rows read "Aborted"
#   quit    closing mid-update asks; Cancel keeps the transfer going; Yes quits and sending stops
#   full    a whole update, all five images byte-exact in order (about two minutes of transfer
#           at least; a benchmark, bench/full-update-in-vm.sh, not a CI test)
# Needs an X display (tools/run-with-xvfb.sh) and an ALSA sequencer (tools/vm/run-in-vm.sh).
set -euo pipefail

[ $# -eq 7 ] || { echo "usage: $0 caspia|abort|quit|full UPDATER DEVICE X11_CLOSE RENDER FIRMWARE_DIR OUT_DIR" >&2; exit 2; }
scenario=$1 updater=$2 device=$3 close_request=$4 render=$5 firmware=$6 out=$7/$1
case "$scenario" in caspia | abort | quit | full) ;; *) echo "unknown scenario $scenario" >&2; exit 2 ;; esac
[ -e /dev/snd/seq ] || { echo "FAILED: no ALSA sequencer here; run this in the test VM (tools/vm/run-in-vm.sh)"; exit 1; }
[ -n "${DISPLAY:-}" ] || { echo "FAILED: no X display; run this under tools/run-with-xvfb.sh"; exit 1; }

rm -rf "$out"
mkdir -p "$out"
work=$(mktemp -d)
app_log=$out/updater.log
device_log=$out/device.log

main_title='^Tavrek KX Firmware Updater$'
normal_title='^Important Firmware Update Information$'
caspia_title='^Important Firmware Update Information \(Caspia Mode\)$'
complete_title='^Firmware Update Complete$'
aborted_title='^Firmware Update Aborted$'
quit_title='^Update In Progress$'

# Versions the device reports: not the carried ones (0.0.3.6, 0.0.2.5, 0.0.2.5), and different per port.
versions=(control=2.7.1.9 audio=3.1.4.1 graphics=5.9.2.6)
version_args=()
for v in "${versions[@]}"; do version_args+=(--version "$v"); done
shown_versions=(current=0:2.7.1.9 current=1:3.1.4.1 current=2:5.9.2.6)

# Regions of the window (its content is 500 x 452): geometry WxH+X+Y.
region_lamp=219x14+10+417   # lamp and "Hardware Detected" / "Hardware Not Detected"
region_current=200x64+10+215 # the device's versions
region_available=200x64+250+215
region_rows=400x57+13+340    # the three status rows
region_button=150x30+330+402 # "Update Firmware", faded while disabled

failures=0
passes=0
app_pid=
device_pid=

stop_all() {
    for p in $app_pid $device_pid; do kill -9 "$p" 2>/dev/null || true; done
    rm -rf "$work"
}
trap stop_all EXIT

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

# A failure after which the scenario cannot go on.
# On stderr: it may be called inside a command substitution, which then fails the script.
fatal() {
    {
        echo "FAILED: $*"
        if [ -n "$app_pid" ] && ! kill -0 "$app_pid" 2>/dev/null; then
            echo "(the updater is no longer running; its output:)"
            tail -n 20 "$app_log" || true
        fi
        echo "(device output so far:)"
        tail -n 20 "$device_log" || true
        echo "$passes passed, $((failures + 1)) failed"
    } >&2
    exit 1
}

now() { date +%s.%N; }
elapsed() { awk -v a="$1" -v b="$(now)" 'BEGIN { printf "%.1f", b - a }'; }
alive() { [ -n "$1" ] && kill -0 "$1" 2>/dev/null; }
window_count() { { timeout 10 xdotool search --onlyvisible --name "$1" 2>/dev/null || true; } | wc -l; }

# Waits up to SECONDS for a visible window with a name matching TITLE and prints its id;
# gives up early when the updater is gone.
wait_window() { # TITLE SECONDS
    local deadline=$(($(date +%s) + $2)) id
    while [ "$(date +%s)" -le "$deadline" ]; do
        id=$(timeout 10 xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n 1 || true)
        [ -n "$id" ] && { echo "$id"; return 0; }
        alive "$app_pid" || return 1
        sleep 0.3
    done
    return 1
}

gone() { # TITLE: true once no window of that name is visible (within 5 s)
    for _ in $(seq 50); do [ "$(window_count "$1")" -eq 0 ] && return 0; sleep 0.1; done
    return 1
}

# Waits up to SECONDS for the process to end; true if it ended with status 0.
exits_cleanly() {
    local pid=$1 seconds=$2 status
    for _ in $(seq $((seconds * 10))); do
        if ! alive "$pid"; then
            status=0
            wait "$pid" || status=$?
            [ "$pid" = "$app_pid" ] && app_pid=
            return "$status"
        fi
        sleep 0.1
    done
    return 1
}

# xdotool and import, each bounded in time.
x() { timeout 20 xdotool "$@" || fatal "xdotool $* did not succeed"; }
press() { # WINDOW KEY: focus the window and press the key the way a hand does
    x windowfocus --sync "$1"
    x keydown "$2" sleep 0.15 keyup "$2"
}
click_at() { x mousemove --window "$1" "$2" "$3" click 1; }
click_update() { click_at "$1" 405 417; }
mouse_away() { x mousemove --window "$1" 250 100; } # over the background, off the button
shoot_screen() {
    timeout 30 import -window root "$out/$1.png" || fatal "no screenshot of the screen"
    echo "screenshot: $out/$1.png"
}
shoot_window() { timeout 30 import -window "$1" "$work/window.png" || fatal "no screenshot of the window"; }

# The window content as it should look after these reports (see kx_render_window_state);
# painted all at once by paint_references.
references=()
reference() { # NAME REPORT...
    local name=$1
    shift
    [ ${#references[@]} -eq 0 ] || references+=(--)
    references+=("$work/$name.png" "$@")
}
paint_references() {
    "$render" "${references[@]}" >>"$out/render.log" 2>&1 || fatal "cannot paint the references: $(cat "$out/render.log")"
}

# How many pixels of REGION differ noticeably between the last window shot and a reference.
differing_pixels() { # REFERENCE REGION
    local n
    n=$(compare -metric AE -fuzz 12% "$work/window.png[$2]" "$work/$1.png[$2]" null: 2>&1 >/dev/null || true)
    [[ "$n" =~ ^[0-9]+$ ]] && echo "$n" || echo 999999
}

# True when every region of the last window shot shows what the reference shows.
shows() { # REFERENCE REGION...
    local reference=$1 region n
    shift
    for region in "$@"; do
        n=$(differing_pixels "$reference" "$region")
        if [ "$n" -gt 8 ]; then
            cp "$work/window.png" "$out/mismatch-$reference.png"
            cp "$work/$reference.png" "$out/expected-$reference.png"
            echo "  ($n pixels of $region differ from $reference: see $out/mismatch-$reference.png)"
            return 1
        fi
    done
}

differs() { # REFERENCE REGION: the region plainly does not show the reference
    [ "$(differing_pixels "$1" "$2")" -gt 50 ]
}

# Takes window shots until the regions show the reference, for up to SECONDS.
comes_to_show() { # WINDOW SECONDS REFERENCE REGION...
    local window=$1 deadline=$(($(date +%s) + $2))
    shift 2
    while :; do
        shoot_window "$window"
        shows "$@" >/dev/null && return 0
        [ "$(date +%s)" -le "$deadline" ] && alive "$app_pid" || { shows "$@"; return 1; }
        sleep 0.5
    done
}

start_device() { # OPTIONS...: starts the virtual device and waits until its ports exist
    : >"$device_log"
    "$device" --timeout 900 "$@" >>"$device_log" 2>&1 &
    device_pid=$!
    for _ in $(seq 200); do
        grep -q '^virtual-kx-device: client' "$device_log" && return 0
        alive "$device_pid" || fatal "the virtual device did not start: $(cat "$device_log")"
        sleep 0.1
    done
    fatal "the virtual device did not create its ports within 20 s"
}

# The firmware pieces each port has received so far, as "control audio graphics".
device_counts() {
    local before line
    before=$(grep -c 'pieces so far' "$device_log" || true)
    kill -USR1 "$device_pid" 2>/dev/null || fatal "the virtual device is gone"
    for _ in $(seq 100); do
        if [ "$(grep -c 'pieces so far' "$device_log" || true)" -gt "$before" ]; then
            line=$(grep 'pieces so far' "$device_log" | tail -n 1)
            echo "$(count_in "$line" "KX Control") $(count_in "$line" "KX Audio") $(count_in "$line" "KX Graphics")"
            return 0
        fi
        sleep 0.05
    done
    fatal "the virtual device did not report its counts"
}
count_in() { sed -n "s/.*$2 \([0-9][0-9]*\).*/\1/p" <<<"$1"; }

# Stops the device and sets device_status and device_report (its output).
stop_device() {
    kill -TERM "$device_pid" 2>/dev/null || true
    device_status=0
    for _ in $(seq 150); do alive "$device_pid" || break; sleep 0.1; done
    alive "$device_pid" && fatal "the virtual device did not stop within 15 s of SIGTERM"
    wait "$device_pid" || device_status=$?
    device_pid=
    device_report=$(cat "$device_log")
    echo "--- the device's report (exit status $device_status)"
    grep -v 'pieces so far' "$device_log" | sed 's/^/  /'
}
report_line() { grep "^$1: " <<<"$device_report" || true; }
pieces_of() { echo $((($(stat -c %s "$firmware/$1.syx") + 255) / 256)); }
bytes_of() { stat -c %s "$firmware/$1.syx"; }

start_updater() {
    "$updater" >>"$app_log" 2>&1 &
    app_pid=$!
    win=$(wait_window "$main_title" 30) || fatal "the updater did not open its window within 30 s"
    sleep 0.5
}

# The device is (or becomes) present: its versions appear beside the carried ones.
expect_detected() { # WINDOW SECONDS
    check "the device is detected and its versions appear (within $2 s)" \
        comes_to_show "$1" "$2" detected "$region_lamp" "$region_current" "$region_available"
    check "the versions shown are the device's, not the carried ones" differs carried "$region_current"
}

: >"$app_log"
"$close_request" intern
reference idle
reference detected detected "${shown_versions[@]}"
reference carried detected current=0:0.0.3.6 current=1:0.0.2.5 current=2:0.0.2.5
reference running detected "${shown_versions[@]}" running
case "$scenario" in
caspia | full)
    reference completed detected "${shown_versions[@]}" status=1:1 status=3:1 status=0:1 \
        status=$([ "$scenario" = full ] && echo 2 || echo 1):2 \
        status=$([ "$scenario" = full ] && echo 4 || echo 3):2 status=0:2
    ;;
abort) reference aborted detected "${shown_versions[@]}" status=1:4 status=3:4 status=0:4 ;;
esac
# Before the updater starts: a status of 4 also raises an abort notice in the painter.
paint_references

case "$scenario" in
caspia)
    echo "--- the device plugged in after the start; a Caspia Mode update"
    start_updater
    check "without a device: red lamp, \"Hardware Not Detected\", no device versions" \
        comes_to_show "$win" 10 idle "$region_lamp" "$region_current" "$region_available"
    start_device "${version_args[@]}" --keep-running \
        --expect "audio=$firmware/audioApplicationFirmware.syx" \
        --expect "graphics=$firmware/graphicsApplicationFirmware.syx" \
        --expect "control=$firmware/controlFirmware.syx"
    expect_detected "$win" 30
    cp "$work/window.png" "$out/detected.png"

    click_at "$win" 250 100 # a click in the window gives it the focus
    press "$win" c
    click_update "$win"
    dialog=$(wait_window "$caspia_title" 15) || fatal "the mode key and a click did not bring up the Caspia Mode confirmation"
    check "only the Caspia Mode confirmation is up" test "$(window_count "$normal_title")" -eq 0
    shoot_screen caspia-confirmation
    press "$dialog" Return
    started=$(now)
    check "OK closes the confirmation" gone "$caspia_title"
    mouse_away "$win"
    sleep 1
    shoot_window "$win"
    cp "$work/window.png" "$out/mid-update.png"
    check "\"Update Firmware\" is disabled during the update" shows running "$region_button"

    box=$(wait_window "$complete_title" 240) || fatal "no \"Firmware Update Complete\" within 240 s"
    transfer_time=$(elapsed "$started")
    echo "the Caspia Mode update took $transfer_time s from OK to the notice"
    sleep 0.5
    shoot_screen caspia-complete
    check "one completion notice" test "$(window_count "$complete_title")" -eq 1
    counts=$(device_counts)
    expected_counts="$(pieces_of controlFirmware) $(pieces_of audioApplicationFirmware) $(pieces_of graphicsApplicationFirmware)"
    check "the device received every piece of the three images (control audio graphics: $counts)" \
        test "$counts" = "$expected_counts"

    press "$box" Return
    check "OK dismisses the notice" gone "$complete_title"
    mouse_away "$win"
    sleep 0.5
    # (A shot of the window while a box covers part of it has that part black.)
    shoot_window "$win"
    cp "$work/window.png" "$out/after-complete.png"
    check "the rows read \"Completed\" for the three application images" shows completed "$region_rows"
    check "\"Update Firmware\" looks enabled again" shows detected "$region_button"
    click_update "$win"
    dialog=$(wait_window "$normal_title" 15) || true
    check "clicking it again brings up the (normal) confirmation" test -n "$dialog"
    [ -n "$dialog" ] && press "$dialog" Escape
    check "Cancel closes it" gone "$normal_title"

    stop_device
    check "the device found every image sound (exit status 0)" test "$device_status" -eq 0
    for item in "KX Audio:audioApplicationFirmware" "KX Graphics:graphicsApplicationFirmware" "KX Control:controlFirmware"; do
        port=${item%%:*} file=${item#*:}
        line=$(report_line "$port")
        check "$port received exactly $file: one image, $(bytes_of "$file") bytes, verdict OK" \
            bash -c '[[ "$1" == "$2: images 1, bytes $3, pieces $4,"* && "$1" == *"verdict OK" ]]' _ \
            "$line" "$port" "$(bytes_of "$file")" "$(pieces_of "$file")"
    done
    check "all three images matched their files byte for byte" \
        test "$(grep -c 'checked against byte-exact with .*: OK$' <<<"$device_report")" -eq 3

    "$close_request" "$win"
    check "after the reset closing quits without asking" exits_cleanly "$app_pid" 10
    ;;

abort)
    echo "--- \"KX Audio\" unplugged in the middle of its image"
    unplug_after=1000
    start_device "${version_args[@]}" --keep-running --unplug "audio=$unplug_after" \
        --expect "audio=$firmware/audioApplicationFirmware.syx"
    start_updater
    expect_detected "$win" 30
    click_update "$win"
    dialog=$(wait_window "$normal_title" 15) || fatal "a click on \"Update Firmware\" did not bring up the confirmation"
    press "$dialog" Return
    started=$(now)
    box=$(wait_window "$aborted_title" 120) || fatal "no \"Firmware Update Aborted\" within 120 s"
    echo "the abort notice came $(elapsed "$started") s after OK"
    at_notice=$(device_counts)
    sleep 2
    later=$(device_counts)
    unplug_line=$(grep 'unplugged KX Audio' "$device_log" || true)
    echo "at the unplug: ${unplug_line#*: }; at the notice: $at_notice (control audio graphics)"
    check "the device unplugged \"KX Audio\" after $unplug_after pieces" test -n "$unplug_line"
    check "no piece on any port after the notice ($at_notice, 2 s later $later)" test "$at_notice" = "$later"
    check "nothing reached \"KX Audio\" past the unplug" test "$(cut -d' ' -f2 <<<"$later")" -eq "$unplug_after"
    check "the graphics image was stopped short" \
        test "$(cut -d' ' -f3 <<<"$later")" -lt "$(pieces_of graphicsApplicationFirmware)"
    shoot_screen aborted
    check "one abort notice" test "$(window_count "$aborted_title")" -eq 1
    press "$box" Return
    check "OK dismisses the notice" gone "$aborted_title"
    mouse_away "$win"
    sleep 0.5
    shoot_window "$win"
    cp "$work/window.png" "$out/after-abort.png"
    check "the rows read \"Aborted\"" shows aborted "$region_rows"
    check "\"Update Firmware\" looks enabled again" shows detected "$region_button"

    stop_device
    line=$(report_line "KX Audio")
    check "what reached \"KX Audio\" is the start of its image, byte for byte" \
        bash -c '[[ "$1" == "KX Audio: images 1, bytes $2, pieces $3,"* && "$1" == *"unplugged after $3 pieces, verdict OK" ]]' _ \
        "$line" $((unplug_after * 256)) "$unplug_after"
    "$close_request" "$win"
    check "after the reset closing quits without asking" exits_cleanly "$app_pid" 10
    ;;

quit)
    echo "--- closing the window in the middle of an update"
    start_device "${version_args[@]}" --keep-running
    start_updater
    expect_detected "$win" 30
    click_update "$win"
    dialog=$(wait_window "$normal_title" 15) || fatal "a click on \"Update Firmware\" did not bring up the confirmation"
    press "$dialog" Return
    sleep 2
    "$close_request" "$win"
    box=$(wait_window "$quit_title" 15) || fatal "closing mid-update did not ask (no \"Update In Progress\")"
    shoot_screen quit-question
    press "$box" Escape
    check "Cancel closes the question" gone "$quit_title"
    check "the updater still runs, its window open" \
        bash -c 'kill -0 "$1" && [ "$2" -eq 1 ]' _ "$app_pid" "$(window_count "$main_title")"
    first=$(device_counts)
    sleep 1.5
    second=$(device_counts)
    echo "pieces (control audio graphics): $first, 1.5 s later $second"
    check "the transfer goes on after Cancel: more pieces on \"KX Audio\" and \"KX Graphics\"" \
        bash -c 'a=($1) b=($2); [ "${b[1]}" -gt "${a[1]}" ] && [ "${b[2]}" -gt "${a[2]}" ]' _ "$first" "$second"
    "$close_request" "$win"
    box=$(wait_window "$quit_title" 15) || fatal "closing again did not ask again"
    press "$box" Return
    check "Yes quits in the middle of the transfer, cleanly" exits_cleanly "$app_pid" 15
    first=$(device_counts)
    sleep 1
    second=$(device_counts)
    check "nothing is sent once the updater has quit ($first, 1 s later $second)" test "$first" = "$second"
    stop_device
    ;;

full)
    echo "--- a whole update: all five images"
    start_device "${version_args[@]}" --keep-running \
        --expect "audio=$firmware/audioApplicationFirmware.syx" --expect "audio=$firmware/audioAssets.syx" \
        --expect "graphics=$firmware/graphicsApplicationFirmware.syx" --expect "graphics=$firmware/graphicsAssets.syx" \
        --expect "control=$firmware/controlFirmware.syx"
    start_updater
    expect_detected "$win" 30
    click_update "$win"
    dialog=$(wait_window "$normal_title" 15) || fatal "a click on \"Update Firmware\" did not bring up the confirmation"
    press "$dialog" Return
    started=$(now)
    sleep 5
    shoot_screen full-mid-update
    box=$(wait_window "$complete_title" 900) || fatal "no \"Firmware Update Complete\" within 900 s"
    transfer_time=$(elapsed "$started")
    echo "the whole update took $transfer_time s from OK to the notice"
    sleep 0.5
    shoot_screen full-complete
    press "$box" Return
    check "OK dismisses the notice" gone "$complete_title"
    mouse_away "$win"
    sleep 0.5
    shoot_window "$win"
    check "the rows read \"Completed\" (the assets last on their ports)" shows completed "$region_rows"
    stop_device
    check "the device found every image sound (exit status 0)" test "$device_status" -eq 0
    for item in "KX Audio:audioApplicationFirmware:audioAssets" "KX Graphics:graphicsApplicationFirmware:graphicsAssets"; do
        IFS=: read -r port app assets <<<"$item"
        check "$port received its two images, $(bytes_of "$app") + $(bytes_of "$assets") bytes, verdict OK" \
            bash -c '[[ "$1" == "$2: images 2, bytes $3, pieces $4,"* && "$1" == *"verdict OK" ]]' _ \
            "$(report_line "$port")" "$port" $(($(bytes_of "$app") + $(bytes_of "$assets"))) \
            $(($(pieces_of "$app") + $(pieces_of "$assets")))
    done
    check "\"KX Control\" received its image, verdict OK" \
        bash -c '[[ "$1" == "KX Control: images 1, bytes $2,"* && "$1" == *"verdict OK" ]]' _ \
        "$(report_line "KX Control")" "$(bytes_of controlFirmware)"
    check "all five images matched their files byte for byte, in order" \
        test "$(grep -c 'checked against byte-exact with .*: OK$' <<<"$device_report")" -eq 5
    "$close_request" "$win"
    check "after the reset closing quits without asking" exits_cleanly "$app_pid" 10
    ;;
esac

echo "$passes passed, $failures failed; the scenario took $SECONDS s"
[ "$failures" -eq 0 ]
