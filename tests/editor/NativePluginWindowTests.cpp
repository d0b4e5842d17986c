#include "editor/NativePluginWindow.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include <X11/Xlib.h>

namespace
{
    bool hasDisplay()
    {
        const auto* display = std::getenv ("DISPLAY");
        return display != nullptr && *display != 0;
    }

    class NativePluginWindowTest : public ::testing::Test
    {
    protected:
        void SetUp() override
        {
            if (! hasDisplay())
                GTEST_SKIP() << "no X display (run under scripts/headless.sh)";
        }

        static void pump (int milliseconds)
        {
            juce::MessageManager::getInstance()->runDispatchLoopUntil (milliseconds);
        }
    };

    TEST_F (NativePluginWindowTest, IsAFixedSizeNativeWindowWithOnlyACloseButton)
    {
        NativePluginWindow window ("Some Plug-in");

        EXPECT_EQ (window.getName(), "Some Plug-in");
        EXPECT_EQ (window.getBackgroundColour(), juce::Colour (0xff20211c));
        EXPECT_TRUE (window.isUsingNativeTitleBar());
        EXPECT_FALSE (window.isResizable());
        EXPECT_FALSE (window.onClose);

        // It joins the desktop when shown, at the size its content gave it.
        EXPECT_FALSE (window.isOnDesktop());
        window.setSize (300, 200);
        window.setVisible (true);
        ASSERT_TRUE (window.isOnDesktop());
        EXPECT_EQ (window.getPeer()->getBounds().getWidth(), 300);

        const auto flags = window.getPeer()->getStyleFlags();
        EXPECT_NE (flags & juce::ComponentPeer::windowHasCloseButton, 0);
        EXPECT_NE (flags & juce::ComponentPeer::windowHasTitleBar, 0);
        EXPECT_EQ (flags & juce::ComponentPeer::windowHasMinimiseButton, 0);
        EXPECT_EQ (flags & juce::ComponentPeer::windowHasMaximiseButton, 0);
        EXPECT_EQ (flags & juce::ComponentPeer::windowIsResizable, 0);
    }

    TEST_F (NativePluginWindowTest, CloseButtonOnlyReportsAndLeavesTheWindowOpen)
    {
        NativePluginWindow window ("Closing");
        window.setVisible (true);

        window.closeButtonPressed(); // without a listener: nothing happens

        int closes = 0;
        window.onClose = [&closes] { ++closes; };
        window.closeButtonPressed();

        EXPECT_EQ (closes, 1);
        EXPECT_TRUE (window.isOnDesktop());
        EXPECT_TRUE (window.isVisible());
    }

    // The window manager's close (the title bar's button) reaches onClose
    // through the X protocol and closes nothing by itself.
    TEST_F (NativePluginWindowTest, WindowManagerCloseRequestCallsOnClose)
    {
        NativePluginWindow window ("Closed by the window manager");
        window.centreWithSize (300, 200);
        window.setVisible (true);
        pump (300);

        int closes = 0;
        window.onClose = [&closes] { ++closes; };

        auto* display = XOpenDisplay (nullptr);
        ASSERT_NE (display, nullptr);

        XEvent event {};
        event.xclient.type = ClientMessage;
        event.xclient.window = (Window) window.getPeer()->getNativeHandle();
        event.xclient.message_type = XInternAtom (display, "WM_PROTOCOLS", False);
        event.xclient.format = 32;
        event.xclient.data.l[0] = (long) XInternAtom (display, "WM_DELETE_WINDOW", False);
        event.xclient.data.l[1] = CurrentTime;
        XSendEvent (display, event.xclient.window, False, NoEventMask, &event);
        XSync (display, False);
        XCloseDisplay (display);

        for (int waited = 0; waited < 3000 && closes == 0; waited += 50)
            pump (50);

        EXPECT_EQ (closes, 1);
        EXPECT_TRUE (window.isOnDesktop());
    }

    TEST_F (NativePluginWindowTest, ShowsContentItDoesNotOwnAndFitsItsSize)
    {
        juce::Component content;
        content.setSize (320, 180);

        {
            NativePluginWindow window ("Content");
            window.setContentNonOwned (&content, true);
            EXPECT_EQ (window.getContentComponent(), &content);
            EXPECT_EQ (window.getWidth(), 320);
            EXPECT_EQ (window.getHeight(), 180);

            // A plug-in editor that changes its size takes its window along.
            content.setSize (400, 250);
            EXPECT_EQ (window.getWidth(), 400);
            EXPECT_EQ (window.getHeight(), 250);

            window.clearContentComponent();
        }

        EXPECT_EQ (content.getParentComponent(), nullptr);
        EXPECT_EQ (content.getWidth(), 400);
    }
}
