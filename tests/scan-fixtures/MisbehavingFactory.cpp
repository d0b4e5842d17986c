// A VST3 module that never returns a factory: with SCAN_FIXTURE_CRASH it
// aborts the process that asks, with SCAN_FIXTURE_HANG it never answers.

#include <chrono>
#include <cstdlib>
#include <thread>

extern "C" __attribute__ ((visibility ("default"))) void* GetPluginFactory()
{
   #if SCAN_FIXTURE_CRASH
    std::abort();
   #else
    for (;;)
        std::this_thread::sleep_for (std::chrono::hours (1));
   #endif
}
