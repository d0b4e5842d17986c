#!/usr/bin/env bash
# Installs what is missing, builds, and starts VELLIX. Without a display it
# starts it under a virtual display, saves a screenshot once the window has
# drawn, prints the screenshot's path and quits the application cleanly.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${VELLIX_BUILD_DIR:-$root/build}"

"$root/scripts/install-deps.sh"
"$root/scripts/build.sh"

app="$build/src/vellix_artefacts/Release/VELLIX"
[ -x "$app" ] || app="$(find "$build/src/vellix_artefacts" -type f -name VELLIX -perm -u+x | head -n 1)"

if [ -n "${DISPLAY:-}" ]; then
    exec "$app"
fi

screenshot="${VELLIX_SCREENSHOT:-$build/vellix-screenshot.png}"
"$root/scripts/headless.sh" "$root/scripts/screenshot-app.sh" "$app" "$screenshot"
echo "$screenshot"
