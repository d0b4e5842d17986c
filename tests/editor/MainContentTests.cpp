// The main window's content around a real rack editor, with the standalone
// holder the application uses: the header, the two-way size rule, and the
// header's frame finish following the editor's frame box.

#include "app/StandaloneHolder.h"
#include "app/SynthStandaloneContent.h"
#include "editor/ChainEditor.h"
#include "library/SoundMenu.h"

#include "EditorTestSupport.h"

using editortest::argb;

namespace
{
    struct MainContentTest : ::testing::Test
    {
        juce::TemporaryFile settingsFile { ".settings" };
        juce::PropertiesFile settings { settingsFile.getFile(), juce::PropertiesFile::Options() };
        juce::StandalonePluginHolder holder { &settings, false };
        std::unique_ptr<SynthStandaloneContent> content { std::make_unique<SynthStandaloneContent> (holder) };

        ~MainContentTest() override { content = nullptr; }

        ChainEditor& editor() { return *dynamic_cast<ChainEditor*> (content->getEditor()); }
    };
}

TEST_F (MainContentTest, HeaderAboveTheEditorAndSizesFollowBothWays)
{
    ASSERT_NE (dynamic_cast<ChainEditor*> (content->getEditor()), nullptr);

    // At the editor's own size plus the header.
    EXPECT_EQ (content->getWidth(), editor().getWidth());
    EXPECT_EQ (content->getHeight(), editor().getHeight() + 42);

    editor().setSize (1120, 900);
    EXPECT_EQ (content->getBounds().getWidth(), 1120);
    EXPECT_EQ (content->getHeight(), 942);
    EXPECT_EQ (content->getSetupButton().getBounds(), juce::Rectangle<int> (43, 7, 170, 28));
    EXPECT_EQ (content->getSetupButton().getButtonText(), "AUDIO / MIDI SETUP");
    EXPECT_EQ (editor().getBounds(), juce::Rectangle<int> (0, 42, 1120, 900));

    // The editor's corner resizer moves the content...
    editor().setSize (1300, 1000);
    EXPECT_EQ (content->getWidth(), 1300);
    EXPECT_EQ (content->getHeight(), 1042);

    // ...and the window moves the editor, without a size coming back.
    content->setSize (1400, 1100);
    EXPECT_EQ (editor().getBounds(), juce::Rectangle<int> (0, 42, 1400, 1058));
    EXPECT_EQ (content->getHeight(), 1100);
}

TEST_F (MainContentTest, HeaderPaintsTheEditorsFinish)
{
    editor().setSize (1120, 900);

    struct Row { int id; juce::uint32 panel, edge; };
    const Row rows[] = { { 2, 0xff151719, 0xff737b80 }, { 3, 0xff303336, 0xffe2e6e8 }, { 1, 0xff181a16, 0xffa28d63 } };

    for (const auto& row : rows)
    {
        editor().frameBox.setSelectedId (row.id, juce::sendNotificationSync);
        const auto image = editortest::snapshot (*content);

        // The frame is drawn 12 pixels higher: its top cheek is cut off and
        // the panel's top edge is the content's first row.
        EXPECT_EQ (argb (image, 600, 20), row.panel) << "item " << row.id;
        EXPECT_EQ (argb (image, 600, 0), row.edge) << "item " << row.id;
    }
}

TEST (SoundMenu, AsksForItsItemsJustBeforeOpening)
{
    juce::Component parent;
    parent.setSize (300, 100);
    SoundMenu menu;
    parent.addAndMakeVisible (menu);
    menu.setBounds (10, 10, 200, 28);

    int calls = 0;
    menu.beforePopup = [&]
    {
        ++calls;
        menu.clear (juce::dontSendNotification);
        menu.addItem ("Pad " + juce::String (calls), calls);
    };

    menu.showPopup();
    EXPECT_EQ (calls, 1);
    EXPECT_EQ (menu.getItemText (0), "Pad 1");
    juce::PopupMenu::dismissAllActiveMenus();
    editortest::pump (50);

    menu.showPopup();
    EXPECT_EQ (calls, 2);
    juce::PopupMenu::dismissAllActiveMenus();
    editortest::pump (50);

    // Without a function it simply opens.
    menu.beforePopup = nullptr;
    menu.showPopup();
    juce::PopupMenu::dismissAllActiveMenus();
    editortest::pump (50);
    EXPECT_EQ (calls, 2);
}
