// The simulated backend put together: one call makes the desktop from its scene and hands back
// every seam of the program wired to it, for `main` to run the program on.
#pragma once

#include <memory>
#include <string>

#include "clock.h"
#include "main-loop.h"
#include "platform/platform.h"
#include "sim-desktop.h"

namespace pelko::computer::sim {

/// Where the simulated desktop comes from: the scene file, the call log's file and the control
/// FIFO (an empty path: no log, no control channel).
struct SimDesktopOptions {
    std::string scenePath;
    std::string logPath;
    std::string controlPath;
};

/// The desktop and the seam bundle that refers to it. Neither copied nor moved, so that the
/// bundle's references stay good.
struct SimBackend {
    SimBackend(Clock& clock, MainLoop& mainLoop, const JSON& scene, const std::string& logPath);
    SimBackend(const SimBackend&) = delete;
    SimBackend& operator=(const SimBackend&) = delete;

    SimDesktop desktop;
    Platform platform;
};

/// Loads the scene, opens the control channel when one is named, delivers global key monitors
/// on `mainLoop` (the main thread) and returns the backend. Throws `SceneError` when the scene
/// or the control channel cannot be used. `clock` and `mainLoop` must outlive it.
std::unique_ptr<SimBackend> makeSimDesktop(Clock& clock, MainLoop& mainLoop,
                                           const SimDesktopOptions& options);

}  // namespace pelko::computer::sim
