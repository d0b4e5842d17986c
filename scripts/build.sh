#!/usr/bin/env bash
# Configures and builds everything (application, tests, fixtures, tools).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${VELLIX_BUILD_DIR:-$root/build}"

export CCACHE_SLOPPINESS="${CCACHE_SLOPPINESS:-time_macros}"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE="${VELLIX_BUILD_TYPE:-Release}" >/dev/null
cmake --build "$build" --parallel "$(nproc)"
