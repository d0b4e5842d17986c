#include "hosting/EffectPicker.h"

EffectPicker::EffectPicker (const std::vector<juce::PluginDescription>& catalogue,
                            std::function<void (juce::PluginDescription)> pick)
    : items (catalogue),
      list ("AU effects", this),
      loadButton ("LOAD PLUG-IN"),
      onPick (std::move (pick))
{
    addAndMakeVisible (search);
    addAndMakeVisible (list);
    addAndMakeVisible (loadButton);

    search.setTextToShowWhenEmpty ("Search plug-in or manufacturer...", juce::Colours::grey);
    search.onTextChange = [this] { filter(); };
    search.onReturnKey = [this] { accept(); };
    list.setRowHeight (44);
    loadButton.onClick = [this] { accept(); };

    setSize (430, 470);
    filter();
}

EffectPicker::~EffectPicker()
{
    // The list refers back to this model; detach it before the model goes.
    list.setModel (nullptr);
}

void EffectPicker::filter()
{
    const auto words = juce::StringArray::fromTokens (search.getText().trim(), " ", "\"");

    visible.clear();

    for (size_t i = 0; i < items.size(); ++i)
    {
        const auto text = items[i].name + " " + items[i].manufacturerName;
        bool shown = true;

        for (const auto& word : words)
        {
            if (! text.containsIgnoreCase (word))
            {
                shown = false;
                break;
            }
        }

        if (shown)
            visible.push_back ((int) i);
    }

    list.updateContent();

    if (! visible.empty())
        list.selectRow (0);

    loadButton.setEnabled (! visible.empty());
}

void EffectPicker::accept()
{
    const int row = list.getSelectedRow (0);

    if (row < 0 || row >= (int) visible.size())
        return;

    const auto picked = items[(size_t) visible[(size_t) row]];

    if (onPick)
        onPick (picked);

    if (auto* box = findParentComponentOfClass<juce::CallOutBox>())
        box->dismiss();
}

int EffectPicker::getNumRows()
{
    return (int) visible.size();
}

void EffectPicker::paintListBoxItem (int rowNumber, juce::Graphics& g, int width, int height, bool rowIsSelected)
{
    if (rowNumber < 0 || rowNumber >= (int) visible.size())
        return;

    const auto& item = items[(size_t) visible[(size_t) rowNumber]];

    if (rowIsSelected)
        g.fillAll (juce::Colour (0xfff58b37));

    g.setColour (rowIsSelected ? juce::Colours::black : juce::Colours::whitesmoke);
    g.setFont (juce::Font (14.0f));
    g.drawText (item.name, juce::Rectangle<int> (10, 1, width - 20, 20), juce::Justification::centredLeft, true);

    g.setColour (rowIsSelected ? juce::Colour (0xff42341f) : juce::Colours::silver);
    g.setFont (juce::Font (11.0f));
    g.drawText (item.manufacturerName, juce::Rectangle<int> (10, 21, width - 20, height - 21),
                juce::Justification::centredLeft, true);
}

void EffectPicker::listBoxItemDoubleClicked (int, const juce::MouseEvent&)
{
    accept();
}

void EffectPicker::returnKeyPressed (int)
{
    accept();
}

void EffectPicker::resized()
{
    const int w = getWidth();
    const int h = getHeight();

    search.setBounds (12, 12, w - 24, 29);
    list.setBounds (12, 53, w - 24, h - 110);
    loadButton.setBounds (12, h - 45, w - 24, 32);
}
