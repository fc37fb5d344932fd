// Everything pelko-computer reaches outside itself through: one reference per seam.
// A backend (simulated, or a real platform) provides all of them and outlives the program.
#pragma once

#include "accessibility.h"
#include "application.h"
#include "clock.h"
#include "events.h"
#include "main-loop.h"
#include "panels.h"
#include "screen-capture.h"
#include "workspace.h"

namespace pelko::computer {

struct Platform {
    Clock& clock;
    /// The main thread's run loop: panels, the global key monitor and the final exit live there.
    MainLoop& mainLoop;
    Application& application;
    Accessibility& accessibility;
    ScreenCapture& screenCapture;
    Workspace& workspace;
    Events& events;
    Panels& panels;
};

}  // namespace pelko::computer
