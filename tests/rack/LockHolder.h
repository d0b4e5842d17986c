#pragma once

#include <juce_core/juce_core.h>

#include <atomic>
#include <chrono>
#include <thread>

/** Runs another thread that holds `lockToHold` from construction until
    this object goes, as a slot change on the message thread would. */
class LockHolder
{
public:
    explicit LockHolder (juce::CriticalSection& lockToHold)
        : thread ([this, &lockToHold]
          {
              const juce::ScopedLock sl (lockToHold);
              holding = true;

              while (! release)
                  std::this_thread::sleep_for (std::chrono::milliseconds (1));
          })
    {
        while (! holding)
            std::this_thread::yield();
    }

    ~LockHolder()
    {
        release = true;
        thread.join();
    }

private:
    std::atomic<bool> holding { false }, release { false };
    std::thread thread;
};
