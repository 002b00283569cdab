#!/usr/bin/env bash
# Builds everything and runs every test. Works from a fresh Debian 12 machine as root.
set -euo pipefail
cd "$(dirname "$0")/.."

bash tools/install-dependencies.sh

build=${KX_BUILD_DIR:-build}
cmake -S . -B "$build" -DKX_WARNINGS_AS_ERRORS=ON
cmake --build "$build" -j"$(nproc)"
ctest --test-dir "$build" --output-on-failure -j"$(nproc)" -LE vm
"$build/bench/kx-soak"

# The tests labelled "vm" need a real ALSA sequencer: they run inside a small VM (fetched on first use).
# The VM's /tmp is empty, so a checkout there is shared with it too, and the build tree if elsewhere.
shares=(-w "$PWD")
case "$(cd "$build" && pwd)/" in
    "$PWD"/*) ;;
    *) shares+=(-w "$build") ;;
esac
bash tools/vm/run-in-vm.sh -t 900 "${shares[@]}" -- ctest --test-dir "$build" --output-on-failure -L vm

# The same tests under the sanitizers, the bounded fuzz runs and the soak under LeakSanitizer.
bash tools/run-sanitizers.sh
