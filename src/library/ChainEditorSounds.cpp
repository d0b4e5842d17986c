// Saving and opening sounds, and the sound menu's list.

#include "editor/ChainEditor.h"
#include "library/RackLibrary.h"
#include "library/SafeFileWriter.h"

void ChainEditor::refreshSounds()
{
    sounds = library.racks();

    soundMenu.clear (juce::dontSendNotification);

    for (size_t i = 0; i < sounds.size(); ++i)
        soundMenu.addItem (sounds[i].getFileNameWithoutExtension(), (int) i + 1);

    juce::String current;
    {
        const juce::ScopedLock sl (processor.lock);
        current = processor.name;
    }

    soundMenu.setText (current, juce::dontSendNotification);
}

void ChainEditor::preset (bool save)
{
    library.folder.createDirectory();

    juce::String current;
    {
        const juce::ScopedLock sl (processor.lock);
        current = processor.name;
    }

    chooser = std::make_unique<juce::FileChooser> (save ? "Save sound" : "Open sound",
                                                   library.folder.getChildFile (current + ".vellix"),
                                                   "*.vellix", true, false, nullptr);

    const int browserFlags = save ? (juce::FileBrowserComponent::saveMode | juce::FileBrowserComponent::canSelectFiles
                                     | juce::FileBrowserComponent::warnAboutOverwriting)
                                  : (juce::FileBrowserComponent::openMode | juce::FileBrowserComponent::canSelectFiles);

    chooser->launchAsync (browserFlags, [safe = juce::Component::SafePointer<ChainEditor> (this), save] (const juce::FileChooser& fc)
    {
        if (safe == nullptr)
            return;

        const auto chosen = fc.getResult();

        if (chosen == juce::File())
            return;

        if (! save)
        {
            safe->read (chosen);
            return;
        }

        safe->saveChosen (chosen);
    });
}

void ChainEditor::saveChosen (const juce::File& chosen)
{
    const auto target = chosen.hasFileExtension ("vellix") ? chosen
                                                           : juce::File (chosen.getFullPathName() + ".vellix");

    if (target != chosen && target.existsAsFile())
    {
        auto options = juce::MessageBoxOptions()
                           .withTitle ("Replace sound?")
                           .withMessage (target.getFileName() + " already exists.")
                           .withButton ("Replace")
                           .withButton ("Cancel");

        juce::AlertWindow::showAsync (options, [safe = juce::Component::SafePointer<ChainEditor> (this), target] (int answer)
        {
            if (answer == 1 && safe != nullptr)
                safe->write (target);
        });
        return;
    }

    write (target);
}

void ChainEditor::write (juce::File file)
{
    if (! file.hasFileExtension ("vellix"))
        file = juce::File (file.getFullPathName() + ".vellix");

    juce::String previousName;
    {
        const juce::ScopedLock sl (processor.lock);
        previousName = processor.name;
        processor.name = file.getFileNameWithoutExtension();
    }

    juce::MemoryBlock bytes;
    processor.getStateInformation (bytes);

    if (! replaceFileSafely (file, bytes.getData(), bytes.getSize()))
    {
        {
            const juce::ScopedLock sl (processor.lock);
            processor.name = previousName;
        }

        statusLabel.setText ("Unable to save sound", juce::dontSendNotification);
        return;
    }

    remember (file);
}

bool ChainEditor::read (const juce::File& file)
{
    if (! RackLibrary::valid (file))
        return false;

    juce::MemoryBlock bytes;

    if (! file.loadFileAsData (bytes))
        return false;

    processor.setStateInformation (bytes.getData(), (int) bytes.getSize());
    remember (file);
    return true;
}

void ChainEditor::remember (const juce::File& file)
{
    library.files.addIfNotAlreadyThere (file.getFullPathName(), false);
    library.folders.addIfNotAlreadyThere (file.getParentDirectory().getFullPathName(), false);
    library.persist();
    refreshSounds();
}
