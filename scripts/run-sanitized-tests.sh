#!/usr/bin/env bash
# Builds the project instrumented, in its own build folder, and runs tests:
#
#   scripts/run-sanitized-tests.sh asan   AddressSanitizer + UndefinedBehaviorSanitizer,
#                                         the whole test suite (build-asan)
#   scripts/run-sanitized-tests.sh tsan   ThreadSanitizer, the tests where threads meet:
#                                         stress, loading, state, hostile sounds (build-tsan)
#   scripts/run-sanitized-tests.sh fuzz   libFuzzer (clang-14): every fuzz target for
#                                         VELLIX_FUZZ_SECONDS seconds each (default 30,
#                                         build-fuzz); inputs it finds go to
#                                         build-fuzz/tests/fuzz/found/<target>, crashes
#                                         to build-fuzz/tests/fuzz/crash-<target>-*
#
# Further arguments go to ctest (e.g. -R hosting. to run a part). The fixture
# plug-ins are built uninstrumented for asan, like any other maker's plug-in
# (instrumented for tsan, which must see their threads). Known
# reports from code that is not ours are suppressed in tests/sanitizers/.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
mode="${1:-}"
[ $# -gt 0 ] && shift

jobs="${VELLIX_BUILD_JOBS:-2}"
suppressions="$root/tests/sanitizers"

configure()
{
    cmake -S "$root" -B "$1" -G Ninja -DCMAKE_BUILD_TYPE=Release "${@:2}" > /dev/null
}

case "$mode" in
    asan)
        build="$root/build-asan"
        configure "$build" -DVELLIX_SANITIZE=address
        cmake --build "$build" -j"$jobs"
        export ASAN_OPTIONS="detect_leaks=1:check_initialization_order=1:strict_init_order=1:detect_stack_use_after_return=0"
        export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1:suppressions=$suppressions/ubsan.supp"
        export LSAN_OPTIONS="suppressions=$suppressions/lsan.supp:print_suppressions=0"
        cd "$build"
        if [ $# -gt 0 ]; then
            "$root/scripts/headless.sh" ctest --output-on-failure --parallel "${VELLIX_TEST_JOBS:-2}" "$@"
        else
            # Other makers' plug-ins are unloaded before the leak check, so
            # their own leaks cannot be told apart; the tests that load them
            # run with every other check but that one.
            "$root/scripts/headless.sh" ctest --output-on-failure --parallel "${VELLIX_TEST_JOBS:-2}" -E RealPlugins
            ASAN_OPTIONS="$ASAN_OPTIONS:detect_leaks=0" \
                "$root/scripts/headless.sh" ctest --output-on-failure --parallel "${VELLIX_TEST_JOBS:-2}" -R RealPlugins
        fi
        ;;
    tsan)
        build="$root/build-tsan"
        configure "$build" -DVELLIX_SANITIZE=thread
        cmake --build "$build" -j"$jobs" --target vellix_hosting_tests
        export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:suppressions=$suppressions/tsan.supp"
        cd "$build"
        [ $# -gt 0 ] || set -- -R '^hosting\.(RackStressSlow|Loading[A-Za-z]*|State[A-Za-z]*|HostileSounds)\.'
        "$root/scripts/headless.sh" ctest --output-on-failure --parallel "${VELLIX_TEST_JOBS:-2}" "$@"
        ;;
    fuzz)
        build="$root/build-fuzz"
        configure "$build" -DVELLIX_SANITIZE=fuzz -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 \
                  -DVELLIX_BUILD_APP=OFF -DVELLIX_FUZZ_SECONDS="${VELLIX_FUZZ_SECONDS:-30}"
        cmake --build "$build" -j"$jobs" --target vellix_fuzz_rack_state vellix_fuzz_library_index \
              vellix_fuzz_sound_check vellix_fuzz_property_list vellix_fuzz_module_info
        export ASAN_OPTIONS="detect_leaks=1"
        export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1:suppressions=$suppressions/ubsan.supp"
        export LSAN_OPTIONS="suppressions=$suppressions/lsan.supp:print_suppressions=0"
        cd "$build"
        "$root/scripts/headless.sh" ctest --output-on-failure --parallel "${VELLIX_TEST_JOBS:-2}" -R '^fuzz\.' "$@"
        ;;
    *)
        echo "usage: $0 asan|tsan|fuzz [ctest arguments]" >&2
        exit 2
        ;;
esac
