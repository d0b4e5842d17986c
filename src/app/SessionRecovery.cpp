#include "app/SessionRecovery.h"

void preserveRackBeforeEmptyStartup (juce::PropertySet& settings, const juce::File& soundsFolder)
{
    const auto text = settings.getValue ("filterState");
    juce::MemoryBlock bytes;

    if (bytes.fromBase64Encoding (text) && bytes.getSize() > 0)
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
