#!/usr/bin/env bash
# Runs a command under a virtual X display with a window manager, unless a
# display is already there. Usage: scripts/headless.sh COMMAND [ARGS...]
set -euo pipefail

if [ -n "${DISPLAY:-}" ]; then
    exec "$@"
fi

for n in $(seq 91 140); do
    if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then
        display=":$n"
        break
    fi
done
: "${display:?no free X display number}"

Xvfb "$display" -screen 0 1920x1200x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
cleanup() {
    [ -n "${wm_pid:-}" ] && kill "$wm_pid" 2>/dev/null || true
    kill "$xvfb_pid" 2>/dev/null || true
    wait 2>/dev/null || true
}
trap cleanup EXIT

export DISPLAY="$display"
for _ in $(seq 1 100); do
    xdpyinfo >/dev/null 2>&1 && break
    sleep 0.1
done

openbox >/dev/null 2>&1 &
wm_pid=$!
sleep 0.5

"$@"
