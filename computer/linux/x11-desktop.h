// The X11 display as the backend's parts need it: the managed windows from the window
// manager's lists (EWMH), the active window, activation and minimizing, the screens (RandR)
// with the work area, the pointer, and whether the screen can be read.
#pragma once

#include <X11/Xlib.h>

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "window-system.h"

namespace pelko::computer::linux_desktop {

/// Makes Xlib safe for connections used from several threads; call before any display opens.
void initX11Threads();

struct DisplayClose {
    void operator()(Display* display) const { XCloseDisplay(display); }
};
/// An owned X connection.
using DisplayPtr = std::unique_ptr<Display, DisplayClose>;

/// Opens the display named by DISPLAY; nothing, with the reason in `error`, when it cannot.
DisplayPtr openDisplay(std::string& error);

/// One monitor, in root-window pixels.
struct Monitor {
    Rect frame;
    bool primary = false;
};

/// The window system on an X display. Its own connection; every member takes its lock, so
/// it may be used from any thread.
class X11Desktop final : public WindowSystem {
  public:
    explicit X11Desktop(DisplayPtr display);

    Point primaryOrigin() override;
    std::vector<WindowInfo> windows() override;
    std::optional<pid_t> activePid() override;
    bool activate(uint64_t window) override;
    bool minimize(uint64_t window) override;

    /// The monitors, the primary first; one covering the root window when RandR lists none.
    std::vector<Monitor> monitors();
    /// The area that windows may cover (less panels and docks) on the current desktop, in
    /// root pixels; nothing when the window manager does not say.
    std::optional<Rect> workArea();
    /// Where the pointer is, in root pixels; nothing when it cannot be read.
    std::optional<Point> pointer();
    /// Whether a window manager that follows EWMH runs.
    bool hasWindowManager();
    /// Whether the screen's pixels can be read.
    bool canReadScreen();
    uint64_t activeWindow() override;

  private:
    Atom atom(const char* name);
    std::vector<Window> clientList();
    std::optional<WindowInfo> describe(Window window);
    std::mutex mutex_;
    DisplayPtr display_;
};

}  // namespace pelko::computer::linux_desktop
