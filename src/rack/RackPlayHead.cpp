#include "rack/RackPlayHead.h"

juce::Optional<juce::AudioPlayHead::PositionInfo> RackPlayHead::getPosition() const
{
    const juce::ScopedLock sl (lock);
    return position;
}
