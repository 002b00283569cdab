#!/usr/bin/env bash
# A whole update (all five images) by the shipped updater on the virtual KX device, over a real
# ALSA sequencer in the test VM, driven on screen like the end-to-end tests: prints the time from
# OK to the completion notice and the device's report (images byte-exact, in order, and the
# timing of every port). About two minutes of transfer at least, so it is not one of CI's tests.
# Timing inside the emulated VM is only indicative.
#
#   bash bench/full-update-in-vm.sh [BUILD_DIR]      (default: build, configured and built first)
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build}
cmake -S . -B "$build" >/dev/null
cmake --build "$build" -j"$(nproc)" --target kx-firmware-updater virtual-kx-device kx_x11_close kx_render_window_state

firmware=$(sed -n 's/^KX_FIRMWARE_DIR:PATH=\(..*\)$/\1/p' "$build/CMakeCache.txt")
[ -n "$firmware" ] || firmware=$build/resources/firmware

bash tools/vm/run-in-vm.sh -t 1500 -w "$build" -- \
    bash tools/run-with-xvfb.sh bash tests/system/updater-end-to-end.sh full \
    "$build/app/kx-firmware-updater" "$build/tools/virtual-kx-device/virtual-kx-device" \
    "$build/tests/app/kx_x11_close" "$build/tests/system/kx_render_window_state" \
    "$firmware" "$build/screenshots/end-to-end"
