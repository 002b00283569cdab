#!/usr/bin/env bash
# Runs a command on a private virtual X display (Xvfb) that lives exactly as long as the command.
# A bare X server has no window manager, so the window-manager atoms that JUCE only looks up
# (never creates) do not exist, and JUCE then fails on its first window. They are interned here
# first; -noreset keeps them after that client leaves. With WM_PROTOCOLS and WM_DELETE_WINDOW
# in place, a WM_DELETE_WINDOW message takes the same path as a window's close button.
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

for atom in WM_PROTOCOLS WM_TAKE_FOCUS WM_DELETE_WINDOW _NET_WM_PING WM_CHANGE_STATE WM_STATE \
            _NET_WM_WINDOW_TYPE _NET_WM_STATE _NET_WM_STATE_HIDDEN; do
    xprop -root -f "$atom" 8s -set "$atom" x
    xprop -root -remove "$atom"
done

"$@"
