#!/usr/bin/env bash
# Starts the application on the current display, waits until its window has
# drawn, saves a screenshot of it and asks the application to quit.
# Usage: scripts/screenshot-app.sh APP OUTPUT.png
set -euo pipefail
app="$1"
output="$2"

"$app" >/dev/null 2>&1 &
app_pid=$!

window=""
for _ in $(seq 1 300); do
    window="$(xdotool search --onlyvisible --name '^VELLIX$' 2>/dev/null | head -n 1 || true)"
    [ -n "$window" ] && break
    kill -0 "$app_pid" 2>/dev/null || { echo "VELLIX exited before showing its window" >&2; exit 1; }
    sleep 0.1
done
[ -n "$window" ] || { echo "VELLIX showed no window" >&2; kill "$app_pid"; exit 1; }

# Let the first paint and the editor's first poll happen.
sleep 2
mkdir -p "$(dirname "$output")"
import -window "$window" "$output"

# A normal quit: the window manager's close request runs the quit sequence.
wmctrl -i -c "$window" || kill -TERM "$app_pid"
for _ in $(seq 1 100); do
    kill -0 "$app_pid" 2>/dev/null || break
    sleep 0.1
done
if kill -0 "$app_pid" 2>/dev/null; then
    echo "VELLIX did not quit; stopping it" >&2
    kill -KILL "$app_pid"
    exit 1
fi
wait "$app_pid" || true
