// Loading and clearing slots with an in-process format, which lets a test hold
// completions back and release them in any order, and fail in ways a real
// format cannot be made to.

#include "LoadingTestSupport.h"

using namespace loading;

namespace
{
    juce::String kindOf (const SlotView& view)
    {
        if (view.hosted == nullptr)
            return {};

        return dynamic_cast<FakeInstance&> (*view.hosted->instance).kind;
    }

    FakeInstance& fakeIn (const SlotView& view)
    {
        return dynamic_cast<FakeInstance&> (*view.hosted->instance);
    }

    juce::MemoryBlock pngOf (const juce::Image& image)
    {
        juce::MemoryOutputStream out;
        juce::PNGImageFormat().writeImageToStream (image, out);
        return out.getMemoryBlock();
    }

    juce::Image solidImage (int width, int height, juce::Colour colour)
    {
        juce::Image image (juce::Image::ARGB, width, height, true);
        image.clear (image.getBounds(), colour);
        return image;
    }
}

using LoadingTickets = FakeRackTest;

TEST_F (LoadingTickets, OnlyTheNewestOfTwoLoadsEndsUpInTheSlotWhicheverFinishesFirst)
{
    struct Row { const char* name; std::vector<size_t> releaseOrder; };

    for (const auto& row : { Row { "first finishes first", { 0, 1 } },
                             Row { "second finishes first", { 1, 0 } } })
    {
        SCOPED_TRACE (row.name);
        processor->clear (0);
        heldCompletions().clear();
        holdCompletions() = true;

        processor->load (0, fake ("latency:10"), {}, false, {});
        processor->load (0, fake ("latency:20"), {}, false, {});

        // Neither completion has run inside load; both are now with the format.
        EXPECT_TRUE (slot (0).loading);
        ASSERT_TRUE (pumpUntil ([] { return heldCompletions().size() == 2; }));

        for (auto index : row.releaseOrder)
        {
            releaseHeld (index);
            pumpFor (5);
        }

        const auto view = slot (0);
        EXPECT_FALSE (view.loading);
        EXPECT_EQ (kindOf (view), "latency:20");
        EXPECT_TRUE (view.message.isEmpty());
        EXPECT_EQ (fakeLiveInstances().load(), 1) << "the first instance must have been deleted";
    }
}

TEST_F (LoadingTickets, ClearWhileALoadIsPendingLeavesTheSlotEmpty)
{
    // Once with the completion still queued in the format, once with it held
    // back by the test and delivered after the clear.
    for (const bool hold : { false, true })
    {
        SCOPED_TRACE (hold ? "held completion" : "queued completion");
        heldCompletions().clear();
        holdCompletions() = hold;

        processor->load (2, fake ("synth"), bytes ("state"), true, {});
        processor->clear (2);

        if (hold)
        {
            ASSERT_TRUE (pumpUntil ([] { return heldCompletions().size() == 1; }));
            releaseHeld (0);
        }

        pumpFor (50);

        const auto view = slot (2);
        EXPECT_EQ (view.hosted, nullptr);
        EXPECT_FALSE (view.loading);
        EXPECT_FALSE (view.showEditor);
        EXPECT_TRUE (view.description.fileOrIdentifier.isEmpty());
        EXPECT_TRUE (view.state.isEmpty());
        EXPECT_EQ (fakeLiveInstances().load(), 0);
    }
}

TEST_F (LoadingTickets, AClearThatArrivesWhileThePlugInIsBeingRestoredStillWins)
{
    FakeInstance::duringSetState() = [this] { processor->clear (3); };

    processor->load (3, fake ("synth"), bytes ("settings"), true, {});
    ASSERT_TRUE (settle (*processor));

    const auto view = slot (3);
    EXPECT_EQ (view.hosted, nullptr);
    EXPECT_FALSE (view.loading);
    EXPECT_FALSE (view.showEditor);
    EXPECT_EQ (fakeLiveInstances().load(), 0);
    FakeInstance::duringSetState() = nullptr;
}

TEST_F (LoadingTickets, AnOccupiedSlotKeepsPlayingAndDescribingTheOldPlugInWhileTheNewOneLoads)
{
    const auto oldPreview = pngOf (solidImage (4, 3, juce::Colours::red));
    processor->load (0, fake ("synth"), bytes ("old"), false, oldPreview);
    ASSERT_TRUE (settle (*processor));
    const auto old = slot (0).hosted;
    ASSERT_NE (old, nullptr);

    holdCompletions() = true;
    processor->load (0, fake ("latency:5"), bytes ("new"), true, {});
    ASSERT_TRUE (pumpUntil ([] { return heldCompletions().size() == 1; }));

    auto view = slot (0);
    EXPECT_TRUE (view.loading);
    EXPECT_EQ (view.hosted, old);
    EXPECT_EQ (view.description.fileOrIdentifier, "fake:synth");
    EXPECT_EQ (view.state, bytes ("old"));
    EXPECT_EQ (view.preview, oldPreview);

    releaseHeld (0);
    view = slot (0);
    EXPECT_FALSE (view.loading);
    EXPECT_EQ (kindOf (view), "latency:5");
    EXPECT_EQ (view.description.fileOrIdentifier, "fake:latency:5");
    EXPECT_EQ (view.state, bytes ("new"));
    EXPECT_TRUE (view.preview.isEmpty());
    EXPECT_TRUE (view.showEditor);
    EXPECT_EQ (old.use_count(), 1) << "only this test still holds the replaced plug-in";
}

//==============================================================================
using LoadingFailures = FakeRackTest;

TEST_F (LoadingFailures, EveryRefusalBecomesTheSlotsMessageAndLeavesTheSlotAsItWas)
{
    struct Row { int slot; const char* kind; const char* message; };

    const Row rows[] = {
        { 0, "effect",           "Choose a MIDI instrument for a synth layer" },
        { 1, "synthNoOutput",    "Choose a MIDI instrument for a synth layer" },
        { 2, "synthNoLayout",    "Instrument needs a mono or stereo output" },
        { 4, "synth",            "Choose a stereo audio effect for FX" },
        { 5, "effectInstrument", "Choose a stereo audio effect for FX" },
        { 4, "effectNoInput",    "Choose a stereo audio effect for FX" },
        { 5, "effectMonoOnly",   "Effect needs stereo input/output" },
        { 3, "fail",             "Unable to load effect" },
        { 5, "fail",             "Unable to load effect" },
        { 1, "failText",         "Plug-in crashed while loading" },
        { 0, "synthWithError",   "Loaded with complaints" },
    };

    for (const auto& row : rows)
    {
        SCOPED_TRACE (juce::String (row.kind) + " into slot " + juce::String (row.slot));

        // Into an empty slot: the request's description, state and preview stay.
        processor->clear (row.slot);
        processor->load (row.slot, fake (row.kind), bytes ("kept"), true, bytes ("picture"));
        ASSERT_TRUE (settle (*processor));

        auto view = slot (row.slot);
        EXPECT_EQ (view.message, row.message);
        EXPECT_EQ (view.hosted, nullptr);
        EXPECT_FALSE (view.loading);
        EXPECT_FALSE (view.showEditor);
        EXPECT_EQ (view.description.fileOrIdentifier, juce::String ("fake:") + row.kind);
        EXPECT_EQ (view.state, bytes ("kept"));
        EXPECT_EQ (view.preview, bytes ("picture"));
        EXPECT_EQ (fakeLiveInstances().load(), 0) << "a refused instance is deleted";

        // Over a plug-in that suits the slot: it stays and keeps playing.
        const auto good = fake (row.slot < ChainProcessor::numLayers ? "synth" : "effect");
        processor->load (row.slot, good, bytes ("good"), false, {});
        ASSERT_TRUE (settle (*processor));
        const auto old = slot (row.slot).hosted;
        ASSERT_NE (old, nullptr);

        processor->load (row.slot, fake (row.kind), bytes ("other"), true, {});
        ASSERT_TRUE (settle (*processor));

        view = slot (row.slot);
        EXPECT_EQ (view.message, row.message);
        EXPECT_EQ (view.hosted, old);
        EXPECT_EQ (view.description.fileOrIdentifier, good.fileOrIdentifier);
        EXPECT_EQ (view.state, bytes ("good"));
        EXPECT_FALSE (view.showEditor);
        EXPECT_EQ (fakeLiveInstances().load(), 1);

        processor->clear (row.slot);
    }
}

TEST_F (LoadingFailures, AFormatTheManagerDoesNotHaveFailsWithTheManagersOwnText)
{
    juce::PluginDescription audioUnit;
    audioUnit.name = "Some Synth";
    audioUnit.pluginFormatName = "AudioUnit";
    audioUnit.fileOrIdentifier = "AudioUnit:Synths/aumu,Smth,Acme";
    audioUnit.isInstrument = true;

    processor->load (0, audioUnit, bytes ("s"), false, {});
    EXPECT_TRUE (slot (0).loading);
    ASSERT_TRUE (settle (*processor));

    const auto view = slot (0);
    EXPECT_EQ (view.message, "No compatible plug-in format exists for this plug-in");
    EXPECT_EQ (view.description.fileOrIdentifier, audioUnit.fileOrIdentifier);
    EXPECT_EQ (view.hosted, nullptr);
}

TEST_F (LoadingFailures, ANewLoadClearsTheMessageOfTheLastFailure)
{
    processor->load (0, fake ("effect"), {}, false, {});
    ASSERT_TRUE (settle (*processor));
    ASSERT_TRUE (slot (0).message.isNotEmpty());

    holdCompletions() = true;
    processor->load (0, fake ("synth"), {}, false, {});
    EXPECT_TRUE (slot (0).message.isEmpty());
    ASSERT_TRUE (pumpUntil ([] { return heldCompletions().size() == 1; }));
    releaseHeld (0);
    EXPECT_TRUE (slot (0).message.isEmpty());
    EXPECT_EQ (kindOf (slot (0)), "synth");
}

//==============================================================================
using LoadingInstall = FakeRackTest;

TEST_F (LoadingInstall, PlugInsThatCannotBeStereoButPlayTwoOrOneChannelsAreInstalled)
{
    struct Row { int slot; const char* kind; int outputChannels; };

    // Mono-only instruments play on both sides; two discrete channels (an LV2
    // plug-in without port groups) play exactly as stereo would.
    for (const auto& row : { Row { 1, "synthMonoOnly", 1 }, Row { 2, "synthDiscrete", 2 },
                             Row { 4, "effectDiscrete", 2 } })
    {
        SCOPED_TRACE (row.kind);
        processor->load (row.slot, fake (row.kind), {}, false, {});
        ASSERT_TRUE (settle (*processor));

        const auto view = slot (row.slot);
        ASSERT_NE (view.hosted, nullptr) << view.message;
        EXPECT_TRUE (view.message.isEmpty());
        EXPECT_EQ (view.hosted->instance->getMainBusNumOutputChannels(), row.outputChannels);
    }
}

TEST_F (LoadingInstall, TheRestoredStateGoesToThePlugInOnceAndAnEmptyOneNotAtAll)
{
    processor->load (0, fake ("synth"), bytes ("saved settings"), false, {});
    processor->load (4, fake ("effect"), {}, false, {});
    ASSERT_TRUE (settle (*processor));

    auto& withState = fakeIn (slot (0));
    EXPECT_EQ (withState.stateCalls, 1);
    EXPECT_EQ (withState.state, bytes ("saved settings"));
    EXPECT_EQ (slot (0).state, bytes ("saved settings"));

    EXPECT_EQ (fakeIn (slot (4)).stateCalls, 0);
}

TEST_F (LoadingInstall, WhileTheRackIsNotPreparedOnlyTheLatencyLineIsSized)
{
    processor->load (0, fake ("latency:64"), {}, false, {});
    ASSERT_TRUE (settle (*processor));

    auto view = slot (0);
    ASSERT_NE (view.hosted, nullptr);
    EXPECT_EQ (fakeIn (view).prepares, 0);
    EXPECT_EQ (view.hosted->latencyDelay.delay, 64);
    EXPECT_EQ (view.hosted->latencyDelay.blockSize, 512);
    EXPECT_EQ (view.hosted->buffer.getNumChannels(), 0);
    EXPECT_EQ (processor->getLatencySamples(), 64);

    processor->prepareToPlay (48000.0, 256);
    EXPECT_EQ (fakeIn (view).prepares, 1);
    EXPECT_EQ (view.hosted->buffer.getNumSamples(), 256);
    processor->releaseResources();
}

TEST_F (LoadingInstall, WhileTheRackIsPreparedThePlugInIsPreparedBeforeItIsSwappedIn)
{
    processor->prepareToPlay (48000.0, 128);
    processor->load (1, fake ("latency:100"), {}, false, {});
    processor->load (0, fake ("latency:30"), {}, false, {});
    ASSERT_TRUE (settle (*processor));

    const auto view = slot (1);
    ASSERT_NE (view.hosted, nullptr);
    EXPECT_EQ (fakeIn (view).prepares, 1);
    EXPECT_EQ (view.hosted->buffer.getNumChannels(), 2);
    EXPECT_EQ (view.hosted->buffer.getNumSamples(), 128);
    EXPECT_EQ (view.hosted->latencyDelay.delay, 100);

    // The layers are aligned to the slowest one as part of the install.
    EXPECT_EQ (slot (0).hosted->alignDelay.delay, 70);
    EXPECT_EQ (processor->getLatencySamples(), 100);

    processor->clear (1);
    EXPECT_EQ (slot (0).hosted->alignDelay.delay, 0);
    EXPECT_EQ (processor->getLatencySamples(), 30);
    processor->releaseResources();
}

TEST_F (LoadingInstall, TheOpenEditorRequestAndPreviewComeFromTheRequest)
{
    const auto picture = solidImage (8, 5, juce::Colours::green);

    processor->load (0, fake ("synth"), {}, true, pngOf (picture));
    processor->load (1, fake ("synth"), {}, false, bytes ("not a picture"));
    ASSERT_TRUE (settle (*processor));

    auto view = slot (0);
    EXPECT_TRUE (view.showEditor);
    ASSERT_TRUE (view.hosted->preview.isValid());
    EXPECT_EQ (view.hosted->preview.getWidth(), 8);
    EXPECT_EQ (view.hosted->preview.getPixelAt (3, 2).getARGB(), juce::Colours::green.getARGB());

    // A block that does not decode leaves no picture, but the block stays.
    view = slot (1);
    EXPECT_FALSE (view.showEditor);
    EXPECT_FALSE (view.hosted->preview.isValid());
    EXPECT_EQ (view.preview, bytes ("not a picture"));
}

//==============================================================================
using LoadingPreview = FakeRackTest;

TEST_F (LoadingPreview, APictureIsStoredOnlyForThePlugInItWasTakenFrom)
{
    processor->load (0, fake ("synth"), {}, false, {});
    ASSERT_TRUE (settle (*processor));
    const auto first = slot (0).hosted;
    const auto picture = solidImage (6, 4, juce::Colours::blue);

    processor->setPreview (0, first, juce::Image());
    EXPECT_TRUE (slot (0).preview.isEmpty());
    EXPECT_FALSE (first->preview.isValid());

    processor->setPreview (0, first, picture);
    auto view = slot (0);
    EXPECT_EQ (first->preview, picture);
    auto decoded = juce::ImageFileFormat::loadFrom (view.preview.getData(), view.preview.getSize());
    ASSERT_TRUE (decoded.isValid());
    EXPECT_EQ (decoded.getPixelAt (1, 1).getARGB(), juce::Colours::blue.getARGB());

    // Replaced since the capture started: nothing changes.
    processor->load (0, fake ("latency:1"), {}, false, {});
    ASSERT_TRUE (settle (*processor));
    processor->setPreview (0, first, solidImage (6, 4, juce::Colours::red));
    EXPECT_TRUE (slot (0).preview.isEmpty());
    EXPECT_FALSE (slot (0).hosted->preview.isValid());

    // Cleared since: nothing changes either.
    const auto second = slot (0).hosted;
    processor->clear (0);
    processor->setPreview (0, second, picture);
    EXPECT_TRUE (slot (0).preview.isEmpty());
    EXPECT_FALSE (second->preview.isValid());
}

//==============================================================================
TEST (LoadingGate, DestroyingTheProcessorWhileLoadsArePendingDeletesTheLateInstances)
{
    heldCompletions().clear();
    holdCompletions() = true;

    {
        ChainProcessor processor;
        processor.formatManager.addFormat (new FakeFormat());
        processor.load (0, fake ("synth"), {}, true, {});
        processor.load (4, fake ("effect"), {}, true, {});
        processor.load (5, fake ("fail"), {}, true, {});
        ASSERT_TRUE (pumpUntil ([] { return heldCompletions().size() == 3; }));
    }

    for (size_t i = 0; i < heldCompletions().size(); ++i)
        releaseHeld (i);

    EXPECT_EQ (fakeLiveInstances().load(), 0);

    // A load whose creation message was still queued is simply never created.
    {
        holdCompletions() = false;
        ChainProcessor processor;
        processor.formatManager.addFormat (new FakeFormat());
        processor.load (1, fake ("synth"), {}, true, {});
    }

    pumpFor (50);
    EXPECT_EQ (fakeLiveInstances().load(), 0);
    heldCompletions().clear();
}
