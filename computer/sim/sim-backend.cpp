#include "sim-backend.h"

namespace pelko::computer::sim {

SimBackend::SimBackend(Clock& clock, MainLoop& mainLoop, const JSON& scene,
                       const std::string& logPath)
    : desktop(clock, scene, logPath), platform{clock,   mainLoop, desktop, desktop,
                                               desktop, desktop,  desktop, desktop} {}

std::unique_ptr<SimBackend> makeSimDesktop(Clock& clock, MainLoop& mainLoop,
                                           const SimDesktopOptions& options) {
    auto backend = std::make_unique<SimBackend>(
        clock, mainLoop, SimDesktop::loadScene(options.scenePath), options.logPath);
    if (!options.controlPath.empty()) backend->desktop.listenForControl(options.controlPath);
    backend->desktop.deliverKeyMonitorsOn(mainLoop);
    return backend;
}

}  // namespace pelko::computer::sim
