#include "editor/NativePluginWindow.h"
#include "editor/PluginPreview.h"
#include "PluginPreviewTestSupport.h"

#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <vector>

using namespace previewtest;

namespace
{
    juce::Image greyImage (int width, int height, juce::uint8 level)
    {
        juce::Image image (juce::Image::RGB, width, height, false);
        image.clear (image.getBounds(), juce::Colour (level, level, level));
        return image;
    }

    //==========================================================================
    struct UsefulCase
    {
        const char* name;
        juce::Image image;
        bool expected;
    };

    TEST (PluginPreviewUseful, JudgesBrightnessSpreadOverTheSampledGrid)
    {
        // A grey level v has a perceived brightness of v / 255, so a sample
        // 7 levels apart spreads by 0.0275 and 8 levels apart by 0.0314.
        // (150, 110) is the last sample of a 160 x 120 image, (0, 0) the first.
        auto oneSampleApart = [] (juce::uint8 base, juce::uint8 other, juce::Point<int> at = { 150, 110 })
        {
            auto image = greyImage (160, 120, base);
            image.setPixelAt (at.x, at.y, juce::Colour (other, other, other));
            return image;
        };

        // A pixel between the sampled rows and columns is not looked at.
        auto offGrid = greyImage (160, 120, 100);
        offGrid.setPixelAt (5, 5, juce::Colours::white);

        const std::vector<UsefulCase> cases {
            { "invalid", juce::Image(), false },
            { "uniform black", greyImage (64, 48, 0), false },
            { "uniform white", greyImage (64, 48, 255), false },
            { "one pixel", greyImage (1, 1, 128), false },
            { "spread just under 0.03", oneSampleApart (100, 107), false },
            { "spread just over 0.03", oneSampleApart (100, 108), true },
            { "darker sample just over 0.03", oneSampleApart (100, 92), true },
            { "difference off the grid", offGrid, false },
            { "first sample differs", oneSampleApart (30, 200, { 0, 0 }), true },
        };

        for (const auto& c : cases)
            EXPECT_EQ (useful (c.image), c.expected) << c.name;
    }

    //==========================================================================
    // A picture as the X server returns it, built by hand so that sizes and
    // pixel layouts can be chosen freely.
    struct FakeXPicture
    {
        FakeXPicture (int width, int height, int bitsPerPixel, unsigned long red, unsigned long green, unsigned long blue)
            : data ((size_t) (width * height * bitsPerPixel / 8), 0)
        {
            picture.width = width;
            picture.height = height;
            picture.format = ZPixmap;
            picture.data = data.data();
            picture.byte_order = LSBFirst;
            picture.bitmap_unit = bitsPerPixel;
            picture.bitmap_bit_order = LSBFirst;
            picture.bitmap_pad = bitsPerPixel;
            picture.depth = bitsPerPixel == 32 ? 24 : 16;
            picture.bytes_per_line = width * bitsPerPixel / 8;
            picture.bits_per_pixel = bitsPerPixel;
            picture.red_mask = red;
            picture.green_mask = green;
            picture.blue_mask = blue;
            XInitImage (&picture);
        }

        void fill (juce::Rectangle<int> area, unsigned long pixel)
        {
            for (int y = area.getY(); y < area.getBottom(); ++y)
                for (int x = area.getX(); x < area.getRight(); ++x)
                    XPutPixel (&picture, x, y, pixel);
        }

        std::vector<char> data;
        XImage picture {};
    };

    struct ConversionCase
    {
        const char* name;
        int width, height, bitsPerPixel;
        unsigned long redMask, greenMask, blueMask;
        unsigned long leftPixel, rightPixel;
        juce::Colour left, right;
        int expectedWidth, expectedHeight;
    };

    TEST (PluginPreviewFromXImage, ConvertsColoursAndLimitsTheWidthTo600)
    {
        const std::vector<ConversionCase> cases {
            { "wide 24-bit is scaled to 600 keeping proportions", 1200, 400, 32, 0xff0000, 0xff00, 0xff,
              0xe02020, 0x2040e0, juce::Colour (0xffe02020), juce::Colour (0xff2040e0), 600, 200 },
            { "height rounds to nearest", 900, 200, 32, 0xff0000, 0xff00, 0xff,
              0xe02020, 0x2040e0, juce::Colour (0xffe02020), juce::Colour (0xff2040e0), 600, 133 },
            { "601 wide loses one column", 601, 100, 32, 0xff0000, 0xff00, 0xff,
              0xe02020, 0x2040e0, juce::Colour (0xffe02020), juce::Colour (0xff2040e0), 600, 100 },
            { "narrower keeps its size", 300, 100, 32, 0xff0000, 0xff00, 0xff,
              0xe02020, 0x2040e0, juce::Colour (0xffe02020), juce::Colour (0xff2040e0), 300, 100 },
            { "exactly 600 keeps its size", 600, 50, 32, 0xff0000, 0xff00, 0xff,
              0x000000, 0xffffff, juce::Colours::black, juce::Colours::white, 600, 50 },
            { "blue-first masks", 200, 100, 32, 0xff, 0xff00, 0xff0000,
              0x2020e0, 0xe04020, juce::Colour (0xffe02020), juce::Colour (0xff2040e0), 200, 100 },
            { "16-bit 5-6-5 stretches to full range", 200, 100, 16, 0xf800, 0x07e0, 0x001f,
              0xf800, 0x07ff, juce::Colour (0xffff0000), juce::Colour (0xff00ffff), 200, 100 },
        };

        for (const auto& c : cases)
        {
            FakeXPicture source (c.width, c.height, c.bitsPerPixel, c.redMask, c.greenMask, c.blueMask);
            source.fill ({ 0, 0, c.width / 2, c.height }, c.leftPixel);
            source.fill ({ c.width / 2, 0, c.width - c.width / 2, c.height }, c.rightPixel);

            const auto image = fromXImage (&source.picture);

            ASSERT_TRUE (image.isValid()) << c.name;
            EXPECT_EQ (image.getWidth(), c.expectedWidth) << c.name;
            EXPECT_EQ (image.getHeight(), c.expectedHeight) << c.name;
            EXPECT_EQ (image.getPixelAt (image.getWidth() / 8, image.getHeight() / 2), c.left) << c.name;
            EXPECT_EQ (image.getPixelAt (image.getWidth() * 7 / 8, image.getHeight() / 2), c.right) << c.name;
        }
    }

    TEST (PluginPreviewFromXImage, GivesAnInvalidImageForNothingOrAPalette)
    {
        EXPECT_FALSE (fromXImage (nullptr).isValid());

        FakeXPicture palette (40, 30, 32, 0, 0, 0);
        palette.fill ({ 0, 0, 40, 30 }, 7);
        EXPECT_FALSE (fromXImage (&palette.picture).isValid());
    }

    //==========================================================================
    // Without a window the editor is rendered by JUCE, at most 600 pixels wide.
    struct FallbackCase
    {
        const char* name;
        int width, height;
        bool painted;
        int expectedWidth, expectedHeight;
    };

    TEST (PluginPreviewCapture, EditorWithoutWindowGetsItsSnapshotExactlyOnceAfterReturning)
    {
        const std::vector<FallbackCase> cases {
            { "narrow editor keeps its size", 400, 300, true, 400, 300 },
            { "wide editor is scaled to 600", 1200, 300, true, 600, 150 },
            { "just wider than 600", 601, 100, true, 600, 100 },
            { "blank editor gives an invalid picture", 400, 300, false, 0, 0 },
            { "empty editor gives an invalid picture", 0, 0, true, 0, 0 },
        };

        PaintedProcessor processor;

        for (const auto& c : cases)
        {
            PaintedEditor editor (processor, c.width, c.height,
                                  c.painted ? std::function<void (juce::Graphics&, juce::Rectangle<int>)> (paintHalves)
                                            : paintUniform (juce::Colours::darkgrey));
            ASSERT_EQ (editor.getPeer(), nullptr) << c.name;

            const auto result = capture (editor);

            EXPECT_EQ (result.calls, 1) << c.name;
            EXPECT_FALSE (result.calledBeforeReturn) << c.name;
            EXPECT_TRUE (deliverable (result.picture)) << c.name;
            EXPECT_EQ (result.picture.getWidth(), c.expectedWidth) << c.name;
            EXPECT_EQ (result.picture.getHeight(), c.expectedHeight) << c.name;
        }
    }

    //==========================================================================
    // An editor shown in its window, as the tile shows it.
    class PluginPreviewWindowed : public ::testing::Test
    {
    protected:
        void SetUp() override
        {
            if (! hasDisplay())
                GTEST_SKIP() << "no X display (run under scripts/headless.sh)";
        }

        void show (juce::AudioProcessorEditor& editor)
        {
            window = std::make_unique<NativePluginWindow> ("Preview test");
            window->setContentNonOwned (&editor, true);
            window->setTopLeftPosition (ScreenSlot::topLeftFor (editor.getWidth(), editor.getHeight()));
            window->setVisible (true);
            window->toFront (false);
            waitUntilDrawn (editor);
        }

        void waitUntilDrawn (juce::AudioProcessorEditor& editor)
        {
            for (int waited = 0; waited < 3000; waited += 50)
            {
                juce::MessageManager::getInstance()->runDispatchLoopUntil (50);

                if (editor.isShowing() && waited >= 300)
                    break;
            }
        }

        void TearDown() override
        {
            if (window != nullptr)
                window->clearContentComponent();

            window = nullptr;
        }

        ScreenSlot screen;
        PaintedProcessor processor;
        std::unique_ptr<NativePluginWindow> window;
    };

    TEST_F (PluginPreviewWindowed, PictureIsTheEditorAreaOfTheWindowTheRightWayRound)
    {
        PaintedEditor editor (processor, 400, 200, paintHalves);
        show (editor);

        const auto result = captureUntilValid (editor);

        EXPECT_EQ (result.calls, 1);
        EXPECT_FALSE (result.calledBeforeReturn);
        ASSERT_TRUE (result.picture.isValid());
        EXPECT_EQ (result.picture.getWidth(), 400);
        EXPECT_EQ (result.picture.getHeight(), 200);

        // Both corners belong to the editor: nothing of a frame or title bar.
        for (auto [x, y, colour] : { std::tuple { 1, 1, 0xffe02020u }, std::tuple { 398, 198, 0xff2040e0u } })
            EXPECT_EQ (result.picture.getPixelAt (x, y), juce::Colour (colour)) << x << "," << y;
    }

    TEST_F (PluginPreviewWindowed, WideWindowPictureIsScaledToExactly600)
    {
        PaintedEditor editor (processor, 750, 150, paintHalves);
        show (editor);

        const auto result = captureUntilValid (editor);

        EXPECT_EQ (result.calls, 1);
        ASSERT_TRUE (result.picture.isValid());
        EXPECT_EQ (result.picture.getWidth(), 600);
        EXPECT_EQ (result.picture.getHeight(), 120);
        EXPECT_TRUE (deliverable (result.picture));
    }

    TEST_F (PluginPreviewWindowed, HiddenWindowFallsBackToTheSnapshot)
    {
        PaintedEditor editor (processor, 300, 100, paintHalves);
        show (editor);
        window->setVisible (false);
        juce::MessageManager::getInstance()->runDispatchLoopUntil (200);

        const auto result = capture (editor);

        EXPECT_EQ (result.calls, 1);
        ASSERT_TRUE (result.picture.isValid());
        EXPECT_EQ (result.picture.getWidth(), 300);
        EXPECT_EQ (result.picture.getPixelAt (10, 50), juce::Colour (0xffe02020));
    }

    // Another X client's window inside the editor's window: what a plug-in
    // with its own native interface looks like. JUCE cannot paint it.
    class ForeignWindow
    {
    public:
        ForeignWindow (unsigned long parent, juce::Rectangle<int> area, unsigned long pixel)
            : display (XOpenDisplay (nullptr))
        {
            if (display == nullptr)
                return;

            window = XCreateSimpleWindow (display, (Window) parent, area.getX(), area.getY(),
                                          (unsigned int) area.getWidth(), (unsigned int) area.getHeight(), 0, 0, pixel);
            XMapWindow (display, window);
            XSync (display, False);
        }

        ~ForeignWindow()
        {
            if (display == nullptr)
                return;

            XDestroyWindow (display, window);
            XCloseDisplay (display);
        }

        bool isOpen() const { return display != nullptr; }

    private:
        Display* display = nullptr;
        Window window = 0;
    };

    TEST_F (PluginPreviewWindowed, ForeignNativeWindowIsInThePictureThoughTheSnapshotIsBlank)
    {
        PaintedEditor editor (processor, 320, 160, paintUniform (juce::Colour (0xff303030)));
        show (editor);

        ForeignWindow plugInView ((unsigned long) editor.getPeer()->getNativeHandle(), { 0, 0, 160, 160 }, 0xf0c020);
        ASSERT_TRUE (plugInView.isOpen());
        juce::MessageManager::getInstance()->runDispatchLoopUntil (300);

        EXPECT_FALSE (useful (editor.createComponentSnapshot (editor.getLocalBounds())));

        const auto result = captureUntilValid (editor, 4000, [] (const juce::Image& picture)
        {
            return picture.getPixelAt (280, 80) == juce::Colour (0xff303030);
        });

        EXPECT_EQ (result.calls, 1);
        ASSERT_TRUE (result.picture.isValid());
        EXPECT_TRUE (deliverable (result.picture));
        EXPECT_EQ (result.picture.getPixelAt (40, 80), juce::Colour (0xfff0c020));
        EXPECT_EQ (result.picture.getPixelAt (280, 80), juce::Colour (0xff303030));
    }

    TEST_F (PluginPreviewWindowed, BlankEditorInWindowGivesAnInvalidPicture)
    {
        PaintedEditor editor (processor, 300, 200, paintUniform (juce::Colours::white));
        show (editor);

        const auto result = capture (editor);

        EXPECT_EQ (result.calls, 1);
        EXPECT_FALSE (result.calledBeforeReturn);
        EXPECT_FALSE (result.picture.isValid());
    }

    TEST_F (PluginPreviewWindowed, WindowPartlyOffScreenGivesTheVisiblePart)
    {
        PaintedEditor editor (processor, 400, 200, paintHalves);
        show (editor);

        // Asking the server for pixels off the screen is an error that must
        // not end the process; the part on screen is still a picture.
        window->setTopLeftPosition (-200, 100);
        juce::MessageManager::getInstance()->runDispatchLoopUntil (500);

        const auto result = capture (editor);

        EXPECT_EQ (result.calls, 1);
        EXPECT_TRUE (deliverable (result.picture));
        ASSERT_TRUE (result.picture.isValid());
        EXPECT_LE (result.picture.getWidth(), 400);
    }

    // A window of another application over the editor: its pixels must not
    // become the plug-in's preview. JUCE's own rendering is used instead.
    TEST_F (PluginPreviewWindowed, CoveredEditorIsNotTakenFromTheScreen)
    {
        PaintedEditor editor (processor, 400, 200, paintHalves);
        show (editor);

        const auto editorOnScreen = editor.getScreenBounds();
        auto* display = XOpenDisplay (nullptr);
        ASSERT_NE (display, nullptr);

        XSetWindowAttributes attributes {};
        attributes.override_redirect = True;
        attributes.background_pixel = 0x20c040;
        const auto cover = XCreateWindow (display, DefaultRootWindow (display),
                                          editorOnScreen.getX() + 20, editorOnScreen.getY() + 20, 100, 100, 0,
                                          CopyFromParent, InputOutput, nullptr,
                                          CWOverrideRedirect | CWBackPixel, &attributes);
        XMapRaised (display, cover);
        XSync (display, False);
        juce::MessageManager::getInstance()->runDispatchLoopUntil (200);

        const auto result = capture (editor);

        XDestroyWindow (display, cover);
        XCloseDisplay (display);

        EXPECT_EQ (result.calls, 1);
        ASSERT_TRUE (result.picture.isValid());
        EXPECT_EQ (result.picture.getPixelAt (60, 60), juce::Colour (0xffe02020));
    }
}
