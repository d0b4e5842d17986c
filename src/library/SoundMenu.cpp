#include "library/SoundMenu.h"

void SoundMenu::showPopup()
{
    if (beforePopup)
        beforePopup();

    juce::ComboBox::showPopup();
}
