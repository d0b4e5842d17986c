#!/usr/bin/env bash
# Starts the application on the current display, waits until its window has
# drawn, saves a screenshot of it and asks the application to quit.
# Usage: scripts/screenshot-app.sh APP OUTPUT.png
set -euo pipefail
app="$1"
output="$2"

"$app" >/dev/null 2>&1 &
app_pid=$!

# The main window, not the small placeholder the window system may show while
# the content is still being built (a first start lists the installed plug-ins
# then, which takes a moment).
window=""
for _ in $(seq 1 300); do
    for candidate in $(xdotool search --onlyvisible --name '^VELLIX$' 2>/dev/null || true); do
        width="$(xdotool getwindowgeometry --shell "$candidate" 2>/dev/null | sed -n 's/^WIDTH=//p')"
        if [ "${width:-0}" -ge 400 ]; then
            window="$candidate"
        fi
    done
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
