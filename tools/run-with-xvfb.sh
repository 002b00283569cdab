#!/usr/bin/env bash
# Runs a command on a private virtual X display (Xvfb) that lives exactly as long as the command.
# The display runs with -noreset, so atoms interned by one client stay for the next.
# Usage: tools/run-with-xvfb.sh COMMAND [ARGUMENTS...]
set -euo pipefail

display_file=$(mktemp)
Xvfb -displayfd 3 -noreset -nolisten tcp -screen 0 1280x1024x24 3>"$display_file" 2>/dev/null &
xvfb_pid=$!
trap 'kill "$xvfb_pid" 2>/dev/null || true; wait "$xvfb_pid" 2>/dev/null || true; rm -f "$display_file"' EXIT

for _ in $(seq 100); do
    [ -s "$display_file" ] && break
    kill -0 "$xvfb_pid" 2>/dev/null || { echo "Xvfb did not start" >&2; exit 1; }
    sleep 0.1
done
[ -s "$display_file" ] || { echo "Xvfb did not report its display" >&2; exit 1; }

export DISPLAY=":$(head -n 1 "$display_file")"
"$@"
