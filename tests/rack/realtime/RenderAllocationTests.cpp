// Proof that the render never allocates. This executable replaces the global
// allocation functions and counts the calls made by the rendering thread
// while it is inside processBlock; other threads allocate freely and are not
// counted. It has an executable of its own so that no other test runs on the
// replaced allocator.

#include "rack/RackRendering.h"

#include <cerrno>
#include <cstdlib>
#include <new>
#include <random>
#include <thread>

#if defined(__has_feature)
 #if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || __has_feature(memory_sanitizer)
  #define VELLIX_UNDER_SANITIZER 1
 #endif
#endif

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
 #define VELLIX_UNDER_SANITIZER 1
#endif

// glibc lets a program replace malloc and friends; the replacements hand
// every request to glibc's own allocator, so free() stays glibc's. A
// sanitizer owns malloc itself, so there only operator new is counted.
#if defined(__GLIBC__) && ! defined(VELLIX_UNDER_SANITIZER)
 #define VELLIX_COUNT_MALLOC 1
#else
 #define VELLIX_COUNT_MALLOC 0
#endif

namespace allocations
{
    // The executable's own thread-local: reached without allocating.
    thread_local bool watching = false;
    std::atomic<long> counted { 0 };

    inline void note() noexcept
    {
        if (watching)
            counted.fetch_add (1, std::memory_order_relaxed);
    }

    struct Watch
    {
        Watch() noexcept    { watching = true; }
        ~Watch()            { watching = false; }
    };
}

#if VELLIX_COUNT_MALLOC
extern "C"
{
    void* __libc_malloc (size_t);
    void* __libc_calloc (size_t, size_t);
    void* __libc_realloc (void*, size_t);
    void* __libc_memalign (size_t, size_t);

    void* malloc (size_t size) noexcept                         { allocations::note(); return __libc_malloc (size); }
    void* calloc (size_t count, size_t size) noexcept           { allocations::note(); return __libc_calloc (count, size); }
    void* realloc (void* pointer, size_t size) noexcept         { allocations::note(); return __libc_realloc (pointer, size); }
    void* memalign (size_t alignment, size_t size) noexcept     { allocations::note(); return __libc_memalign (alignment, size); }
    void* aligned_alloc (size_t alignment, size_t size) noexcept { allocations::note(); return __libc_memalign (alignment, size); }

    int posix_memalign (void** result, size_t alignment, size_t size) noexcept
    {
        allocations::note();

        if (auto* pointer = __libc_memalign (alignment, size))
        {
            *result = pointer;
            return 0;
        }

        return ENOMEM;
    }
}

namespace
{
    void* rawAllocate (std::size_t size) noexcept                           { return __libc_malloc (size == 0 ? 1 : size); }
    void* rawAllocateAligned (std::size_t size, std::size_t alignment) noexcept { return __libc_memalign (alignment, size == 0 ? 1 : size); }
}
#else
namespace
{
    void* rawAllocate (std::size_t size) noexcept   { return std::malloc (size == 0 ? 1 : size); }

    void* rawAllocateAligned (std::size_t size, std::size_t alignment) noexcept
    {
        void* pointer = nullptr;
        return posix_memalign (&pointer, juce::jmax (alignment, sizeof (void*)), size == 0 ? 1 : size) == 0 ? pointer : nullptr;
    }
}
#endif

namespace
{
    void* countedNew (std::size_t size)
    {
        allocations::note();

        if (auto* pointer = rawAllocate (size))
            return pointer;

        throw std::bad_alloc();
    }

    void* countedNewAligned (std::size_t size, std::align_val_t alignment)
    {
        allocations::note();

        if (auto* pointer = rawAllocateAligned (size, (std::size_t) alignment))
            return pointer;

        throw std::bad_alloc();
    }
}

void* operator new (std::size_t size)                                                  { return countedNew (size); }
void* operator new[] (std::size_t size)                                                { return countedNew (size); }
void* operator new (std::size_t size, const std::nothrow_t&) noexcept                  { allocations::note(); return rawAllocate (size); }
void* operator new[] (std::size_t size, const std::nothrow_t&) noexcept                { allocations::note(); return rawAllocate (size); }
void* operator new (std::size_t size, std::align_val_t alignment)                      { return countedNewAligned (size, alignment); }
void* operator new[] (std::size_t size, std::align_val_t alignment)                    { return countedNewAligned (size, alignment); }
void* operator new (std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept   { allocations::note(); return rawAllocateAligned (size, (std::size_t) alignment); }
void* operator new[] (std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept { allocations::note(); return rawAllocateAligned (size, (std::size_t) alignment); }

void operator delete (void* pointer) noexcept                                          { std::free (pointer); }
void operator delete[] (void* pointer) noexcept                                        { std::free (pointer); }
void operator delete (void* pointer, std::size_t) noexcept                             { std::free (pointer); }
void operator delete[] (void* pointer, std::size_t) noexcept                           { std::free (pointer); }
void operator delete (void* pointer, const std::nothrow_t&) noexcept                   { std::free (pointer); }
void operator delete[] (void* pointer, const std::nothrow_t&) noexcept                 { std::free (pointer); }
void operator delete (void* pointer, std::align_val_t) noexcept                        { std::free (pointer); }
void operator delete[] (void* pointer, std::align_val_t) noexcept                      { std::free (pointer); }
void operator delete (void* pointer, std::size_t, std::align_val_t) noexcept           { std::free (pointer); }
void operator delete[] (void* pointer, std::size_t, std::align_val_t) noexcept         { std::free (pointer); }
void operator delete (void* pointer, std::align_val_t, const std::nothrow_t&) noexcept { std::free (pointer); }
void operator delete[] (void* pointer, std::align_val_t, const std::nothrow_t&) noexcept { std::free (pointer); }

//==============================================================================
TEST (RackRealtime, TheCounterSeesAllocationsOnTheWatchedThreadOnly)
{
    allocations::counted = 0;

    {
        const allocations::Watch watch;
        auto* number = new int (3);
        delete number;
        std::vector<float> grown (100);
        juce::String text ("made on the watched thread");
        text << 12345;
    }

    const auto watched = allocations::counted.load();
    EXPECT_GE (watched, 3);

#if VELLIX_COUNT_MALLOC
    {
        const allocations::Watch watch;
        std::free (std::malloc (64));
    }

    EXPECT_EQ (allocations::counted.load(), watched + 1);
#endif

    // Another thread's allocations are not counted, even while this one
    // watches. (Starting a thread allocates, so it starts before the watch.)
    std::atomic<bool> go { false }, done { false };
    std::thread other ([&]
    {
        while (! go)
            std::this_thread::yield();

        std::vector<int> elsewhere (1000);
        done = true;
    });

    long before = 0, after = 0;

    {
        const allocations::Watch watch;
        before = allocations::counted.load();
        go = true;

        while (! done)
            std::this_thread::yield();

        after = allocations::counted.load();
    }

    other.join();
    EXPECT_EQ (after, before) << "counted another thread";
}

TEST (RackRealtime, RenderingAllocatesNothingWhileTheRackIsPlayedAndChanged)
{
    constexpr int preparedBlock = 512;
    constexpr int numBlocks = 8000;
    const int hostBlocks[] = { 512, 1, 64, 333, 1024, 2048, 700, 128, 511, 513 };

    ChainProcessor processor;
    processor.prepareToPlay (48000.0, preparedBlock);

    std::vector<InProcessPlugin*> plugins;
    plugins.push_back (&installInstrument (processor, 0, { false, 0 }));
    plugins.push_back (&installInstrument (processor, 1, { true, 37 }));
    plugins.push_back (&installInstrument (processor, 2, { false, 128 }));
    plugins.push_back (&installInstrument (processor, 3, { false, 300 }));
    auto& firstEffect = installEffect (processor, 4, { 64 });
    plugins.push_back (&firstEffect);
    plugins.push_back (&installEffect (processor, 5, { 16, 0.8f }));

    allocations::counted = 0;
    std::atomic<bool> rendering { true };
    std::atomic<int> audibleBlocks { 0 };

    std::thread audio ([&]
    {
        // The host's side: its buffers and its MIDI space exist before it plays.
        juce::AudioBuffer<float> buffer (2, 2048);
        juce::MidiBuffer midi;
        midi.ensureSize (65536);
        std::minstd_rand random (7);

        for (int block = 0; block < numBlocks; ++block)
        {
            const int length = hostBlocks[(size_t) block % std::size (hostBlocks)];
            midi.clear();

            if (block % 3 == 0)
            {
                const int note = 48 + (int) (random() % 24);
                midi.addEvent (juce::MidiMessage::noteOn (1 + (int) (random() % 16), note, (juce::uint8) 100), (int) (random() % (unsigned) length));
                midi.addEvent (juce::MidiMessage::noteOff (1, note - 1), length - 1);
            }

            if (block % 7 == 0)
                midi.addEvent (juce::MidiMessage::pitchWheel (1 + (int) (random() % 16), (int) (random() % 16384)), 0);

            if (block % 11 == 0)
                midi.addEvent (juce::MidiMessage::controllerEvent (2, 121, 0), length / 2);

            if (block % 13 == 0)
                midi.addEvent (juce::MidiMessage::controllerEvent (1, 64, 127), 0);

            juce::AudioBuffer<float> view (buffer.getArrayOfWritePointers(), 2, length);

            {
                const allocations::Watch watch;
                processor.processBlock (view, midi);
            }

            if (view.getMagnitude (0, length) > 0.0f)
                ++audibleBlocks;

            // A device hands out blocks at its own pace.
            if (block % 8 == 0)
                std::this_thread::sleep_for (std::chrono::microseconds (200));
        }

        rendering = false;
    });

    // Meanwhile the message thread plays the on-screen keyboard, moves the
    // mixer, presses PANIC, changes an effect's latency and runs the timer.
    std::minstd_rand random (11);
    const char* mixerIds[] = { "volume0", "pan1", "mute2", "solo3", "bypass1", "bypass4", "bypass5", "master", "volume3", "solo0" };
    int round = 0;

    while (rendering)
    {
        auto* parameter = processor.parameters.getParameter (mixerIds[(size_t) round % std::size (mixerIds)]);
        parameter->setValueNotifyingHost ((float) (random() % 1000) / 999.0f);

        if (round % 5 == 0)
            processor.keyboardState.noteOn (1, 60 + round % 12, 0.8f);

        if (round % 5 == 2)
            processor.keyboardState.allNotesOff (1);

        if (round % 17 == 0)
            processor.panicRequest.store (true, std::memory_order_release);

        if (round % 40 == 20)
            firstEffect.setLatencySamples (firstEffect.getLatencySamples() == 64 ? 96 : 64);

        juce::MessageManager::getInstance()->runDispatchLoopUntil (2);
        ++round;
    }

    audio.join();

    EXPECT_EQ (allocations::counted.load(), 0) << "allocations on the audio thread inside processBlock";
    std::cout << "[ allocations ] " << allocations::counted.load() << " allocations in " << numBlocks
              << " rendered blocks; " << round << " rounds of changes on the message thread" << std::endl;

    // The rack really played: every plug-in ran, sound came out, and the
    // timer followed the effect's latency at least once.
    for (auto* plugin : plugins)
        EXPECT_GT (plugin->blocksProcessed.load(), numBlocks) << plugin->getName();

    EXPECT_GT (audibleBlocks.load(), numBlocks / 20);
    EXPECT_GT (round, 40);
}
