#!/usr/bin/env bash
# Builds the updater and starts it. Works from a fresh Debian 12 machine as root.
# On a machine without a display it starts the updater on a virtual one (Xvfb), saves a
# screenshot of its window, says where, and closes it again.
set -euo pipefail
cd "$(dirname "$0")/.."

bash tools/install-dependencies.sh

build=${KX_BUILD_DIR:-build}
cmake -S . -B "$build"

if [ -n "${DISPLAY:-}" ]; then
    cmake --build "$build" -j"$(nproc)" --target kx-firmware-updater
    exec "$build/app/kx-firmware-updater"
fi

cmake --build "$build" -j"$(nproc)" --target kx-firmware-updater kx_x11_close
shot="$(pwd)/$build/screenshots/updater.png"
mkdir -p "$(dirname "$shot")"

echo "No display: starting the updater on a virtual one."
bash tools/run-with-xvfb.sh bash -c '
    set -euo pipefail
    updater=$1 close_request=$2 shot=$3
    "$close_request" intern
    # Without a MIDI sequencer (/dev/snd/seq) ALSA complains on every hardware poll.
    "$updater" 2>"${shot%.png}.log" &
    pid=$!
    window=$(timeout 20 xdotool search --sync --onlyvisible --name "^Tavrek KX Firmware Updater$" | head -n 1) || true
    if [ -z "$window" ]; then
        kill "$pid" 2>/dev/null || true
        echo "The updater did not open its window." >&2
        exit 1
    fi
    sleep 2
    import -window "$window" "$shot"
    "$close_request" "$window"
    wait "$pid"
' run-updater "$build/app/kx-firmware-updater" "$build/tests/app/kx_x11_close" "$shot"
echo "The updater ran; screenshot of its window: $shot"
