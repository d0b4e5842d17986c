#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test through
# CTest under a virtual X display (tests with windows need one; none needs a
# sound card). Ends with CTest's summary line; then the sanitized runs.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${VELLIX_BUILD_DIR:-$root/build}"

VELLIX_WITH_TEST_PLUGINS=1 "$root/scripts/install-deps.sh"
"$root/scripts/build.sh"

cd "$build"
log="$(mktemp)"
trap 'rm -f "$log"' EXIT
"$root/scripts/headless.sh" ctest --output-on-failure --parallel "${VELLIX_TEST_JOBS:-2}" "$@" | tee "$log"
status=${PIPESTATUS[0]}
[ "$status" -eq 0 ] || exit "$status"

# Then the whole suite again under AddressSanitizer and UndefinedBehaviorSanitizer,
# and each fuzz target for a bounded time (VELLIX_SANITIZED_TESTS=0 skips both);
# the normal run's summary line is repeated at the end.
if [ "${VELLIX_SANITIZED_TESTS:-1}" = 1 ] && [ $# -eq 0 ]; then
    "$root/scripts/run-sanitized-tests.sh" asan
    "$root/scripts/run-sanitized-tests.sh" fuzz
    grep "tests passed" "$log" | tail -1
fi
