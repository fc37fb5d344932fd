// pelko-notifier: posts and clears notification cards. Run with a command word it is the
// short-lived client; run with "serve" it is the resident that shows the cards.
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iostream>
#include <optional>
#include <string>

#include "client.h"
#include "linux/linux-backend.h"
#include "resident.h"
#include "sim/sim-backend.h"

namespace {

using namespace pelko;
using namespace pelko::notifier;

/// Runs the resident on `windowing` until it exits; returns the exit status.
template <typename Windowing>
int serveOn(Windowing& windowing, LinuxBackend& linuxBackend) {
    auto resident =
        std::make_shared<Resident>(Platform{windowing, linuxBackend.ports, linuxBackend.appIcons});
    resident->applicationDidFinishLaunching();
    if (resident->hasPort()) windowing.record("resident " + std::to_string(::getpid()));
    return windowing.run();
}

/// The resident. Its port and the apps' icons are Linux's; its cards are X11 windows when a
/// display answers, else they live on the simulated desktop. PELKO_NOTIFIER_LOG names a file
/// that receives its log, so a person or a test can follow what the cards do; its first line
/// names the windowing chosen.
int serve() {
    // Leave the client's process group and terminal, so the client's end never ends us.
    ::setsid();
    RealClock clock;
    std::optional<std::ofstream> log;
    if (const char* path = std::getenv("PELKO_NOTIFIER_LOG"); path && *path)
        log.emplace(path, std::ios::app);
    std::ostream* logStream = log ? &*log : nullptr;
    auto linuxBackend = makeLinuxBackend(&clock, logStream);
    if (X11Windowing* windowing = linuxBackend->windowing.get()) {
        windowing->record("windowing x11 " + windowing->displayName());
        return serveOn(*windowing, *linuxBackend);
    }
    auto simBackend = makeSimBackend(clock, logStream);
    simBackend->windowing.record("windowing simulated: no X display answered");
    return serveOn(simBackend->windowing, *linuxBackend);
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> cliArgs(argv + 1, argv + argc);
    // Only the first argument decides: "serve" with more after it is still the resident.
    if (!cliArgs.empty() && cliArgs[0] == "serve") return serve();

    auto backend = makeLinuxBackend();
    RealClock clock;
    ClientEnvironment environment{
        backend->ports, clock,
        [executable = ownExecutable(argc > 0 ? argv[0] : "")] { launchResident(executable); },
        std::cerr};
    return runClient(cliArgs, environment);
}
