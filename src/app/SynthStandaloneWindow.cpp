#include "app/SynthStandaloneWindow.h"
#include "app/SynthStandaloneContent.h"

#include "app/StandaloneHolder.h"

SynthStandaloneWindow::SynthStandaloneWindow (juce::PropertySet* settings)
    // The window joins the desktop only once its content exists: on X11 a
    // desktop window with a native title bar is mapped at once, and showed an
    // empty 128 x 128 frame while the rack editor was being built.
    : juce::DocumentWindow ("VELLIX", juce::Colour (0xff20211e), juce::DocumentWindow::allButtons, false)
{
    setUsingNativeTitleBar (true);

    holder = std::make_unique<juce::StandalonePluginHolder> (settings, false, juce::String(), nullptr,
                                                             juce::Array<juce::StandalonePluginHolder::PluginInOuts>(),
                                                             false);

    // The rack has no input bus, so this has no audible effect; it keeps the
    // holder from muting a processor that might one day take input.
    holder->getMuteInputValue().setValue (false);

    setContentOwned (new SynthStandaloneContent (*holder), true);

    // Before the resize limits: the native window takes them only when it
    // exists as they are set.
    addToDesktop();

    setResizable (true, true);
    setResizeLimits (980, 762, 1800, 1342);

    centreWithSize (getWidth(), getHeight());
    setVisible (true);
}

SynthStandaloneWindow::~SynthStandaloneWindow()
{
    if (holder != nullptr)
        holder->player.setProcessor (nullptr);

    clearContentComponent();
    holder = nullptr;
}

void SynthStandaloneWindow::closeButtonPressed()
{
    if (auto* app = juce::JUCEApplicationBase::getInstance())
        app->systemRequestedQuit();
}

void SynthStandaloneWindow::savePluginState()
{
    if (holder != nullptr)
        holder->savePluginState();
}
