#include "app/SessionRecovery.h"

namespace
{
    // JUCE's decoder trusts the byte count in front of the dot: a damaged
    // settings file holding "-1.x" or a huge count makes it allocate gigabytes
    // (or throw) on every start, and a cut-off text decodes to a zero-padded
    // rack. Only text of the exact shape MemoryBlock::toBase64Encoding writes
    // is decoded.
    bool decodeRackState (const juce::String& text, juce::MemoryBlock& bytes)
    {
        const int dot = text.indexOfChar ('.');

        // A rack's size fits an int, whose largest value has ten digits.
        if (dot <= 0 || dot > 10)
            return false;

        const auto count = text.substring (0, dot);
        const auto encoded = text.substring (dot + 1);

        if (! count.containsOnly ("0123456789")
            || ! encoded.containsOnly (".ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+"))
            return false;

        const auto size = (juce::uint64) count.getLargeIntValue();

        if (size > (juce::uint64) std::numeric_limits<int>::max()
            || (juce::uint64) encoded.length() != (size * 8 + 5) / 6)
            return false;

        return bytes.fromBase64Encoding (text);
    }
}

void preserveRackBeforeEmptyStartup (juce::PropertySet& settings, const juce::File& soundsFolder)
{
    const auto text = settings.getValue ("filterState");
    juce::MemoryBlock bytes;

    if (decodeRackState (text, bytes) && bytes.getSize() > 0)
    {
        bool written = false;

        if (soundsFolder.createDirectory().wasOk())
        {
            const auto stamp = juce::Time (juce::Time::currentTimeMillis()).formatted ("%Y-%m-%d %H-%M-%S");
            const auto target = soundsFolder.getNonexistentChildFile ("Recovered session " + stamp, ".vellix", true);
            written = target.replaceWithData (bytes.getData(), bytes.getSize());
        }

        if (! written)
            settings.setValue ("previousRackState", text);
    }

    settings.removeValue ("filterState");
}
