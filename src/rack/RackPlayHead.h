#pragma once

#include <juce_audio_basics/juce_audio_basics.h>

/** The play head given to every hosted plug-in. The plug-in may ask from any
    thread and waits for `lock`; the render only try-enters it to store a new
    position once per block, so it always answers, if with a stale position. */
class RackPlayHead : public juce::AudioPlayHead
{
public:
    ~RackPlayHead() override = default;

    juce::Optional<juce::AudioPlayHead::PositionInfo> getPosition() const override;

    juce::CriticalSection lock;
    juce::AudioPlayHead::PositionInfo position;
};
