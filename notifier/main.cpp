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

/// The resident. Its port and the apps' icons are Linux's; until a real window backend exists
/// the cards live on the simulated desktop. PELKO_NOTIFIER_LOG names a file that receives its
/// log, so a person or a test can follow what the cards do.
int serve() {
    // Leave the client's process group and terminal, so the client's end never ends us.
    ::setsid();
    RealClock clock;
    std::optional<std::ofstream> log;
    if (const char* path = std::getenv("PELKO_NOTIFIER_LOG"); path && *path)
        log.emplace(path, std::ios::app);
    auto linuxBackend = makeLinuxBackend();
    auto simBackend = makeSimBackend(clock, log ? &*log : nullptr);
    SimWindowing& windowing = simBackend->windowing;
    auto resident = std::make_shared<Resident>(
        Platform{windowing, linuxBackend->ports, linuxBackend->appIcons});
    resident->applicationDidFinishLaunching();
    if (resident->hasPort()) windowing.record("resident " + std::to_string(::getpid()));
    return windowing.run();
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
