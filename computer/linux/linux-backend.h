// The Linux desktop put together: one call connects to the X display and the accessibility
// bus and hands back every seam of the program wired to them.
#pragma once

#include <memory>
#include <stdexcept>

#include "atspi-client.h"
#include "change-count.h"
#include "clock.h"
#include "key-mapping.h"
#include "linux-accessibility.h"
#include "linux-application.h"
#include "linux-events.h"
#include "linux-panels.h"
#include "linux-screen-capture.h"
#include "linux-workspace.h"
#include "main-loop.h"
#include "platform/platform.h"
#include "x11-desktop.h"

namespace pelko::computer::linux_desktop {

/// There is no desktop to work on; the text says what is missing.
struct DesktopUnavailable : std::runtime_error {
    using std::runtime_error::runtime_error;
};

/// Every part of the Linux desktop and the seam bundle that refers to them. Neither copied nor
/// moved, so that the bundle's references stay good.
struct LinuxBackend {
    LinuxBackend(Clock& clock, MainLoop& mainLoop, std::unique_ptr<AtspiClient> client,
                 DisplayPtr desktopDisplay, DisplayPtr eventsDisplay, DisplayPtr panelsDisplay,
                 DisplayPtr captureDisplay);
    LinuxBackend(const LinuxBackend&) = delete;
    LinuxBackend& operator=(const LinuxBackend&) = delete;

    std::unique_ptr<AtspiClient> client;
    X11Desktop x11;
    ChangeCount changes;
    PostedKeys posted;
    LinuxAccessibility accessibility;
    LinuxWorkspace workspace;
    LinuxEvents events;
    LinuxPanels panels;
    LinuxScreenCapture screenCapture;
    LinuxApplication application;
    Platform platform;
};

/// Connects to the X display named by DISPLAY and to the accessibility bus, and returns the
/// backend. Throws `DesktopUnavailable` when either does not answer. `clock` and `mainLoop`
/// must outlive it; global key monitors run on `mainLoop`.
std::unique_ptr<LinuxBackend> makeLinuxDesktop(Clock& clock, MainLoop& mainLoop);

}  // namespace pelko::computer::linux_desktop
