// JUCE declares its X11 window system (display, lock) only when asked to, and
// only the first inclusion of its headers counts: this must come first.
#define JUCE_GUI_BASICS_INCLUDE_XHEADERS 1

#include "editor/PluginPreview.h"

#include <juce_gui_extra/juce_gui_extra.h>

namespace
{
    constexpr int maxPreviewWidth = 600;

    // Larger pictures are scaled down to the preview width, keeping their
    // proportions; narrower ones keep their size.
    juce::Image limitWidth (const juce::Image& image)
    {
        if (! image.isValid() || image.getWidth() <= maxPreviewWidth)
            return image;

        const auto height = juce::jmax (1, juce::roundToInt ((float) maxPreviewWidth * (float) image.getHeight()
                                                             / (float) image.getWidth()));
        return image.rescaled (maxPreviewWidth, height, juce::Graphics::mediumResamplingQuality);
    }

    // What the editor paints through JUCE alone. A plug-in that draws into a
    // native window of its own comes out blank here.
    juce::Image snapshotOf (juce::AudioProcessorEditor& editor)
    {
        const auto scale = juce::jmin (1.0f, (float) maxPreviewWidth / (float) juce::jmax (1, editor.getWidth()));

        if (juce::roundToInt (scale * (float) editor.getHeight()) < 1)
            return {};

        return limitWidth (editor.createComponentSnapshot (editor.getLocalBounds(), true, scale));
    }

   #if JUCE_LINUX
    int ignoreXError (::Display*, XErrorEvent*)
    {
        return 0;
    }

    // Plug-ins sometimes leave Xlib's default handler in place, which ends the
    // process on any error; a window that vanishes between our checks and the
    // picture must only cost the picture.
    class ScopedXErrorTrap
    {
    public:
        explicit ScopedXErrorTrap (::Display* d) : display (d)
        {
            XSync (display, False);
            previous = XSetErrorHandler (ignoreXError);
        }

        ~ScopedXErrorTrap()
        {
            XSync (display, False);
            XSetErrorHandler (previous);
        }

    private:
        ::Display* display;
        XErrorHandler previous = nullptr;

        JUCE_DECLARE_NON_COPYABLE (ScopedXErrorTrap)
    };

    // Without a compositing manager the server keeps no picture of a window of
    // its own: a picture of a covered area shows whatever covers it. True when
    // a viewable top-level window stacked above the one holding `window`
    // overlaps the area (in root coordinates).
    bool isCovered (::Display* display, ::Window window, ::Window root, juce::Rectangle<int> areaOnRoot)
    {
        // The top-level ancestor: the window manager's frame, or the window itself.
        auto topLevel = window;

        for (;;)
        {
            ::Window rootReturn = 0, parent = 0;
            ::Window* children = nullptr;
            unsigned int count = 0;

            if (XQueryTree (display, topLevel, &rootReturn, &parent, &children, &count) == 0)
                return true;

            if (children != nullptr)
                XFree (children);

            if (parent == root || parent == 0)
                break;

            topLevel = parent;
        }

        ::Window rootReturn = 0, parent = 0;
        ::Window* stack = nullptr;
        unsigned int count = 0;

        if (XQueryTree (display, root, &rootReturn, &parent, &stack, &count) == 0)
            return true;

        auto covered = false;
        auto above = false;

        // Children come bottom first.
        for (unsigned int i = 0; i < count && ! covered; ++i)
        {
            if (stack[i] == topLevel)
            {
                above = true;
                continue;
            }

            XWindowAttributes sibling {};

            if (above && XGetWindowAttributes (display, stack[i], &sibling) != 0 && sibling.map_state == IsViewable)
            {
                const juce::Rectangle<int> bounds (sibling.x, sibling.y,
                                                   sibling.width + 2 * sibling.border_width,
                                                   sibling.height + 2 * sibling.border_width);
                covered = bounds.intersects (areaOnRoot);
            }
        }

        if (stack != nullptr)
            XFree (stack);

        return covered;
    }

    // The server's picture of an area of a window (the whole window when the
    // area is empty), embedded windows of other clients included. Nothing for
    // a window that is not on screen or that another window covers.
    juce::Image grabWindow (::Window window, juce::Rectangle<int> area)
    {
        if (window == 0)
            return {};

        juce::XWindowSystemUtilities::ScopedXLock xLock;
        auto* display = juce::XWindowSystem::getInstance()->getDisplay();

        if (display == nullptr)
            return {};

        ScopedXErrorTrap trap (display);

        XWindowAttributes attributes {};

        if (XGetWindowAttributes (display, window, &attributes) == 0 || attributes.map_state != IsViewable)
            return {};

        const juce::Rectangle<int> windowArea (attributes.width, attributes.height);
        area = area.isEmpty() ? windowArea : area.getIntersection (windowArea);

        // The server refuses a picture of any part of a window that lies off
        // the screen.
        int rootX = 0, rootY = 0;
        ::Window child = 0;
        XWindowAttributes rootAttributes {};

        if (XTranslateCoordinates (display, window, attributes.root, 0, 0, &rootX, &rootY, &child) == 0
            || XGetWindowAttributes (display, attributes.root, &rootAttributes) == 0)
            return {};

        const auto screenInWindow = juce::Rectangle<int> (rootAttributes.width, rootAttributes.height)
                                        - juce::Point<int> (rootX, rootY);
        area = area.getIntersection (screenInWindow);

        if (area.isEmpty() || isCovered (display, window, attributes.root, area + juce::Point<int> (rootX, rootY)))
            return {};

        auto* picture = XGetImage (display, window, area.getX(), area.getY(),
                                   (unsigned int) area.getWidth(), (unsigned int) area.getHeight(),
                                   AllPlanes, ZPixmap);
        auto image = fromXImage (picture);

        if (picture != nullptr)
            XDestroyImage (picture);

        return image;
    }

    // The editor's own area inside its top-level window, in the window's pixels.
    juce::Rectangle<int> editorAreaInWindow (juce::AudioProcessorEditor& editor, juce::ComponentPeer& peer)
    {
        const auto logical = peer.getComponent().getLocalArea (&editor, editor.getLocalBounds());
        return (logical.toDouble() * peer.getPlatformScaleFactor()).getSmallestIntegerContainer();
    }
   #endif

    juce::Image renderLocally (juce::AudioProcessorEditor& editor)
    {
       #if JUCE_LINUX
        // X keeps no picture of a window that is not on screen, so an
        // embedded interface can only be read while it is shown.
        auto viewPicture = grabWindow ((::Window) findView (editor), {});

        if (useful (viewPicture))
            return viewPicture;
       #endif

        auto snapshot = snapshotOf (editor);
        return useful (snapshot) ? snapshot : juce::Image();
    }
}

bool useful (const juce::Image& image)
{
    if (! image.isValid())
        return false;

    const auto width = image.getWidth();
    const auto height = image.getHeight();
    auto lowest = 1.0f;
    auto highest = 0.0f;

    for (int row = 0; row < 12; ++row)
    {
        for (int column = 0; column < 16; ++column)
        {
            const auto x = juce::jmin (width - 1, width * column / 16);
            const auto y = juce::jmin (height - 1, height * row / 12);
            const auto brightness = image.getPixelAt (x, y).getPerceivedBrightness();
            lowest = juce::jmin (lowest, brightness);
            highest = juce::jmax (highest, brightness);
        }
    }

    return highest - lowest > 0.03f;
}

#if JUCE_LINUX
unsigned long findView (juce::Component& component)
{
    if (auto* embed = dynamic_cast<juce::XEmbedComponent*> (&component))
        if (auto window = embed->getHostWindowID())
            return window;

    for (auto* child : component.getChildren())
        if (auto window = findView (*child))
            return window;

    return 0;
}

juce::Image fromXImage (_XImage* picture)
{
    if (picture == nullptr || picture->width <= 0 || picture->height <= 0)
        return {};

    struct Channel
    {
        unsigned long mask = 0;
        int shift = 0;
        unsigned long maximum = 0;

        explicit Channel (unsigned long m) : mask (m)
        {
            if (mask == 0)
                return;

            while (((mask >> shift) & 1) == 0)
                ++shift;

            maximum = mask >> shift;
        }

        juce::uint8 level (unsigned long pixel) const
        {
            return (juce::uint8) ((((pixel & mask) >> shift) * 255 + maximum / 2) / maximum);
        }
    };

    const Channel red (picture->red_mask), green (picture->green_mask), blue (picture->blue_mask);

    // Palette-based visuals carry no masks; their pixels are not colours.
    if (red.maximum == 0 || green.maximum == 0 || blue.maximum == 0)
        return {};

    juce::Image image (juce::Image::RGB, picture->width, picture->height, false);

    {
        juce::Image::BitmapData pixels (image, juce::Image::BitmapData::writeOnly);

        for (int y = 0; y < picture->height; ++y)
        {
            for (int x = 0; x < picture->width; ++x)
            {
                const auto pixel = XGetPixel (picture, x, y);
                pixels.setPixelColour (x, y, juce::Colour (red.level (pixel), green.level (pixel), blue.level (pixel)));
            }
        }
    }

    return limitWidth (image);
}
#endif

void capturePluginPreview (juce::AudioProcessorEditor& editor, std::function<void (juce::Image)> done)
{
    // Always posted, even on the message thread: callers rely on being
    // called back after they have returned, never from inside this call.
    auto deliver = [done = std::move (done)] (juce::Image picture)
    {
        juce::MessageManager::callAsync ([done, picture] { done (picture); });
    };

   #if JUCE_LINUX
    if (auto* peer = editor.getPeer())
    {
        if (peer->getComponent().isVisible())
        {
            auto picture = grabWindow ((::Window) peer->getNativeHandle(), editorAreaInWindow (editor, *peer));

            if (useful (picture))
            {
                deliver (picture);
                return;
            }
        }
    }
   #endif

    // Elsewhere the editor is rendered locally: this build has no window
    // capture for macOS or Windows.
    deliver (renderLocally (editor));
}
