// What the Linux backend's parts ask the window system: the screens' origin, the windows of a
// process with their titles, activating and minimizing them, and which process is in front.
// Implemented on X11 (x11-desktop.h); the accessibility part uses it for what AT-SPI does not
// say (a window's title when the toolkit gives none) and for the window actions.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/accessibility.h"

namespace pelko::computer::linux_desktop {

/// A top-level window of the window system.
struct WindowInfo {
    uint64_t id = 0;
    pid_t pid = 0;
    std::string title;
    /// The class part of WM_CLASS ("Mousepad"), which desktop entries name.
    std::string windowClass;
    /// In root-window pixels (origin top-left of the whole X screen).
    Rect frame;
    bool hidden = false;  ///< minimized (iconic)
    /// A normal application window (not a dock, a menu or a window that skips the taskbar).
    bool normal = true;
    /// The desktop's own window (the wallpaper and the icons on it).
    bool desktop = false;
    /// On the virtual desktop shown now (or on all of them).
    bool onCurrentDesktop = true;
};

class WindowSystem {
  public:
    virtual ~WindowSystem() = default;
    /// Where the primary screen's top-left corner lies in root-window pixels: global points
    /// are counted from there.
    virtual Point primaryOrigin() = 0;
    /// The managed top-level windows, bottom to top (the stacking order).
    virtual std::vector<WindowInfo> windows() = 0;
    /// The process of the active window; nothing when no window is active.
    virtual std::optional<pid_t> activePid() = 0;
    /// The active window; 0 when none is.
    virtual uint64_t activeWindow() = 0;
    /// Asks the window manager to activate the window (raising and unminimizing it).
    virtual bool activate(uint64_t window) = 0;
    /// Asks the window manager to minimize the window.
    virtual bool minimize(uint64_t window) = 0;
};

/// The window of `pid` that best matches `frame` (root pixels): the one whose origin and size
/// are nearest; nothing when the process has no window.
std::optional<WindowInfo> windowOf(const std::vector<WindowInfo>& windows, pid_t pid,
                                   const std::optional<Rect>& frame);

}  // namespace pelko::computer::linux_desktop
