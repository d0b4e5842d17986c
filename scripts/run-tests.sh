#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test through
# CTest under a virtual X display (tests with windows need one; none needs a
# sound card). Ends with CTest's summary line.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${VELLIX_BUILD_DIR:-$root/build}"

VELLIX_WITH_TEST_PLUGINS=1 "$root/scripts/install-deps.sh"
"$root/scripts/build.sh"

cd "$build"
"$root/scripts/headless.sh" ctest --output-on-failure --parallel "${VELLIX_TEST_JOBS:-2}" "$@"
