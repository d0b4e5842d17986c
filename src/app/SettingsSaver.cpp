#include "app/SettingsSaver.h"
#include "library/SafeFileWriter.h"

SettingsSaver::SettingsSaver (juce::PropertiesFile& settingsToSave, const juce::PropertiesFile::Options& optionsUsed)
    : settings (settingsToSave), options (optionsUsed)
{
    settings.addChangeListener (this);
}

SettingsSaver::~SettingsSaver()
{
    settings.removeChangeListener (this);
}

void SettingsSaver::changeListenerCallback (juce::ChangeBroadcaster*)
{
    // Comes before JUCE's own delayed write, which then finds nothing to do.
    saveIfNeeded();
}

bool SettingsSaver::saveIfNeeded()
{
    if (! (unsaved || settings.needsToBeSaved()))
        return true;

    return save();
}

bool SettingsSaver::save()
{
    const auto file = settings.getFile();

    if (options.storageFormat != juce::PropertiesFile::storeAsXML)
        return settings.save();

    // The document JUCE's PropertiesFile writes, so that it reads it back as ever.
    juce::XmlElement document ("PROPERTIES");

    {
        const juce::ScopedLock sl (settings.getLock());
        const auto& all = settings.getAllProperties();

        for (int i = 0; i < all.size(); ++i)
        {
            auto* element = document.createNewChildElement ("VALUE");
            element->setAttribute ("name", all.getAllKeys()[i]);

            if (auto child = juce::parseXML (all.getAllValues()[i]))
                element->addChildElement (child.release());
            else
                element->setAttribute ("val", all.getAllValues()[i]);
        }
    }

    const auto text = document.toString();

    // Once this returns the file holds either the new settings or the old
    // ones; JUCE must not try again on its own.
    settings.setNeedsToBeSaved (false);

    unsaved = options.doNotSave || file == juce::File() || ! file.getParentDirectory().createDirectory().wasOk()
              || ! replaceFileSafely (file, text.toRawUTF8(), text.getNumBytesAsUTF8());
    return ! unsaved;
}
