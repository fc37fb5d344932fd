// The Linux backend put together: the Unix-socket message port, the freedesktop icons and, on
// an X11 desktop, the X11 windowing.
#pragma once

#include <memory>
#include <ostream>

#include "clock.h"
#include "linux/freedesktop-icons.h"
#include "linux/unix-message-port.h"
#include "linux/x11-windowing.h"

namespace pelko::notifier {

/// The seams Linux provides.
struct LinuxBackend {
    UnixMessagePorts ports;
    FreedesktopAppIcons appIcons;
    /// The windowing of the X display named by DISPLAY; null when it was not asked for or no X
    /// server answered (the program then shows its cards on the simulated desktop).
    std::unique_ptr<X11Windowing> windowing;
};

/// The Linux backend of the program: the port and the icons. With `clock`, also the X11
/// windowing on it (the resident's), logging to `log` unless that is null, with URLs opened by
/// PELKO_NOTIFIER_OPENER or xdg-open and GDK_SCALE pixels a point. The client asks for no
/// windowing: it never talks to the X server.
std::unique_ptr<LinuxBackend> makeLinuxBackend(Clock* clock = nullptr, std::ostream* log = nullptr);

}  // namespace pelko::notifier
