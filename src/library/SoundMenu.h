#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

#include <functional>

/** The sound library's combo box. Its list is filled just before it opens, so
    that sounds saved or deleted meanwhile show up. */
class SoundMenu : public juce::ComboBox
{
public:
    SoundMenu() = default;

    void showPopup() override;

    /** Called each time just before the menu opens. */
    std::function<void()> beforePopup;

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (SoundMenu)
};
