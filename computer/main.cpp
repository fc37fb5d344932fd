// pelko-computer: with PELKO_SCENE set it works on the simulated desktop that scene describes
// (PELKO_SIM_LOG names the call log and PELKO_SIM_CONTROL the control FIFO); otherwise on the
// X11 desktop it runs in, read through the accessibility bus. It speaks the line protocol, or
// with --mcp the Model Context Protocol. With --own-desktop it starts a desktop of the agent's
// own (a window on the user's screen, or headless) and works there.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>

#include "command-line.h"
#include "data-files.h"
#include "installed.h"
#include "linux/linux-backend.h"
#include "mcp-server.h"
#include "own-desktop/supervisor.h"
#include "request-loop.h"
#include "sim/sim-backend.h"

namespace {

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

// Serves on `platform` through the face the arguments chose, for the rest of the process.
[[noreturn]] void runFace(pelko::computer::Platform& platform, bool mcp) {
    using namespace pelko::computer;
    if (mcp) mcp::runMCPServer(platform, STDIN_FILENO);
    // The process-wide values; the process ends inside `runComputer`, so they outlive every
    // thread that uses them.
    Computer computer(platform, stdout);
    runComputer(computer, STDIN_FILENO);
}

}  // namespace

int main(int argc, char** argv) {
    using namespace pelko;
    computer::CommandLine command;
    try {
        command = computer::parseCommandLine({argv + 1, argv + argc});
    } catch (const computer::own_desktop::UsageError& error) {
        std::cerr << "pelko-computer: " << error.what() << "\n" << computer::commandLineUsage;
        return 2;
    }
    if (command.ask == computer::CommandLine::Ask::version) {
        std::cout << computer::versionLine();
        return 0;
    }
    if (command.ask == computer::CommandLine::Ask::help) {
        std::cout << computer::commandLineUsage;
        return 0;
    }
    if (command.ownDesktop) return computer::own_desktop::runOwnDesktop(*command.ownDesktop);
    const bool mcp = command.mcp;
    // Every output line is flushed as it is written; the buffer only gathers one line.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    RealClock clock;
    MainLoop mainLoop(clock);
    const std::string scene = environment("PELKO_SCENE");
    if (!scene.empty()) {
        // A path, or the bare name of a scene installed with the program ("desktop").
        const std::string scenePath =
            dataFile(scene, std::filesystem::path(installedDataFolder) / "scenes", ".json");
        try {
            const auto backend = computer::sim::makeSimDesktop(
                clock, mainLoop,
                {scenePath, environment("PELKO_SIM_LOG"), environment("PELKO_SIM_CONTROL")});
            runFace(backend->platform, mcp);
        } catch (const computer::sim::SceneError& error) {
            std::cerr << "pelko-computer: " << error.what() << "\n";
            return 1;
        }
    }
    try {
        const auto backend = computer::linux_desktop::makeLinuxDesktop(clock, mainLoop);
        runFace(backend->platform, mcp);
    } catch (const computer::linux_desktop::DesktopUnavailable& error) {
        std::cerr << "pelko-computer: no desktop to work on (" << error.what()
                  << "): run it in an X11 session whose accessibility bus is up (Debian package "
                     "at-spi2-core), or set PELKO_SCENE to a simulated desktop's scene file.\n";
        return 1;
    }
}
