// The screen-capture seam: the permission, the windows that can be pictured, and one still
// image of one window. The content and the image arrive asynchronously, on a thread of the
// capture system, as on the platform.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "accessibility.h"

namespace pelko::computer {

/// One window the capture system can picture, as the capture system reports it.
struct ShareableWindow {
    /// The capture system's number for the window.
    std::uint32_t windowId = 0;
    /// The process identifier of the application that owns it; nothing when none does.
    std::optional<pid_t> ownerPid;
    /// Its window layer: 0 for ordinary windows, other values for panels, menus, the Dock.
    int layer = 0;
    /// Screen points, origin at the top-left of the primary display, y downward.
    Rect frame;
    /// Nothing when the window has no title.
    std::optional<std::string> title;
};

/// Which windows the content lists.
struct ContentFilter {
    /// Leave out the desktop's own windows (the wallpaper and the icons on it).
    bool excludingDesktopWindows = true;
    /// List only windows that are on screen now: not minimised, not on another desktop, not
    /// of a hidden app.
    bool onScreenWindowsOnly = true;
};

/// A still picture: rows top first, `bytesPerRow` apart, 4 bytes per pixel in the order
/// blue, green, red, alpha, sRGB values, opaque.
struct WindowImage {
    int width = 0;
    int height = 0;
    int bytesPerRow = 0;
    std::vector<std::uint8_t> pixels;
};

class ScreenCapture {
  public:
    virtual ~ScreenCapture() = default;
    /// Whether this process may capture the screen. Never prompts.
    virtual bool preflight() = 0;
    /// Shows the system prompt for screen capture; returns whether capture is now allowed.
    virtual bool request() = 0;

    /// Receives the windows in the capture system's order, or nothing and the error's
    /// description (nothing when the failure carries no error).
    using ContentCompletion = std::function<void(std::optional<std::vector<ShareableWindow>>,
                                                 std::optional<std::string> error)>;
    /// Receives the image, or nothing and the error's description (nothing when there is none).
    using ImageCompletion =
        std::function<void(std::optional<WindowImage>, std::optional<std::string> error)>;

    /// Asks for the windows that can be pictured. Returns at once; `completion` runs at most
    /// once, later, on a thread of the capture system. A completion that is dropped without
    /// being called means the request ended without an answer.
    virtual void shareableContent(const ContentFilter& filter, ContentCompletion completion) = 0;
    /// Asks for one still image of `window` alone (its own pixels, nothing that overlaps it,
    /// no pointer), `width` × `height` pixels. A capture system that scales delivers exactly
    /// that size; one that cannot delivers the window's own pixels and the caller scales them.
    /// Returns at once; `completion` runs as for `shareableContent`.
    virtual void captureWindow(const ShareableWindow& window, int width, int height,
                               ImageCompletion completion) = 0;
};

}  // namespace pelko::computer
