// pelko-computer on the simulated desktop: the scene comes from PELKO_SCENE, or the bundled
// sample scene; PELKO_SIM_LOG names the call log and PELKO_SIM_CONTROL the control FIFO.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>

#include "request-loop.h"
#include "sim/sim-backend.h"

namespace {

namespace fs = std::filesystem;

// The sample scene, found next to an installed program or in the source tree it was built from.
std::string sampleScenePath() {
    std::error_code error;
    const fs::path executable = fs::read_symlink("/proc/self/exe", error);
    if (!error) {
        const fs::path installed =
            executable.parent_path().parent_path() / "share/pelko/scenes/desktop.json";
        if (fs::exists(installed)) return installed.string();
    }
    return PELKO_EXAMPLES_DIR "/scenes/desktop.json";
}

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

}  // namespace

int main() {
    using namespace pelko;
    std::string scenePath = environment("PELKO_SCENE");
    if (scenePath.empty()) scenePath = sampleScenePath();
    // Every output line is flushed as it is written; the buffer only gathers one line.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    RealClock clock;
    MainLoop mainLoop(clock);
    try {
        const auto backend = computer::sim::makeSimDesktop(
            clock, mainLoop,
            {scenePath, environment("PELKO_SIM_LOG"), environment("PELKO_SIM_CONTROL")});
        // The process-wide values; the process ends inside `runComputer`, so they outlive
        // every thread that uses them.
        computer::Computer computer(backend->platform, stdout);
        computer::runComputer(computer, STDIN_FILENO);
    } catch (const computer::sim::SceneError& error) {
        std::cerr << "pelko-computer: " << error.what() << "\n";
        return 1;
    }
}
