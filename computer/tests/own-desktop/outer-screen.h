// The user's screen in the tests of the agent's own desktop: a headless X server with a window
// manager (scripts/desktop-session), or headless mutter serving Wayland with XWayland for X11
// clients (wayland-session), as a GNOME user on Wayland has it. The user looks at it, moves the
// mouse, types, resizes and closes windows.
#pragma once

#include <optional>
#include <string>

#include "x11-desktop.h"

namespace pelko::computer::testing {

/// A window on the user's screen, where the screen shows it.
struct ScreenWindow {
    unsigned long id = 0;
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};

class OuterScreen {
  public:
    OuterScreen();
    ~OuterScreen();
    OuterScreen(const OuterScreen&) = delete;
    OuterScreen& operator=(const OuterScreen&) = delete;

    /// Why the tests cannot run here; empty when they can.
    static std::string unavailable();
    /// Whether the screen is a Wayland compositor's (X11 apps reach it through XWayland).
    bool isWayland() const { return wayland_; }

    /// The shown window whose title is `title`, nothing when there is none.
    std::optional<ScreenWindow> findWindow(const std::string& title);
    /// What the screen shows where `window` is: on X11 the root window's picture; on Wayland
    /// the compositor's screen cast (XWayland has no picture of the whole screen: the compositor
    /// draws it).
    SurfacePtr picture(const ScreenWindow& window);
    /// The user moves the mouse to (x, y) of the screen and clicks: on X11 with xdotool, on
    /// Wayland with the compositor's own virtual pointer (mutter's remote desktop service),
    /// since XTest's pointer reaches XWayland's windows a few points off.
    bool click(int x, int y);
    /// The user types `text` or presses a key (xdotool's key names) into the focused window.
    bool type(const std::string& text);
    bool key(const std::string& name);
    /// The user drags the window's size to `width` × `height`.
    bool resize(const ScreenWindow& window, int width, int height);
    /// The user closes the window with its close button (the window manager's close request).
    bool close(const ScreenWindow& window);

  private:
    pelko::testing::DisplayConnection display_;
    bool wayland_ = false;
    struct RemotePointer;
    std::unique_ptr<RemotePointer> pointer_;
};

}  // namespace pelko::computer::testing
