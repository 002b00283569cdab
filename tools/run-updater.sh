#!/usr/bin/env bash
# Builds the updater and starts it. Works from a fresh Debian 12 machine as root.
set -euo pipefail
cd "$(dirname "$0")/.."

bash tools/install-dependencies.sh

build=${KX_BUILD_DIR:-build}
cmake -S . -B "$build"
cmake --build "$build" -j"$(nproc)"

echo "The updater application is not built yet; the transfer library and its tests are."
