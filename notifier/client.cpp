#include "client.h"

#include <fcntl.h>
#include <spawn.h>
#include <unistd.h>

#include "message.h"

extern char** environ;

namespace pelko::notifier {
namespace {

constexpr Duration clientDeadline = seconds(5);
constexpr Duration launchInterval = seconds(1.5);
constexpr Duration waitSlice = seconds(0.1);
constexpr Duration sendTimeout = seconds(2);

}  // namespace

bool sendToResident(MessagePorts& ports, const std::string& message) {
    return ports.sendRequest(portName, messageIdentifier, message, sendTimeout);
}

int runClient(const std::vector<std::string>& args, ClientEnvironment& environment) {
    auto message = encodeCommand(args);
    if (!message) return exitBadCommandLine;
    if (sendToResident(environment.ports, *message)) return exitAccepted;
    // No resident means no cards: there is nothing to clear, so none is started for it.
    if (args[0] == "clear") return exitAccepted;

    Clock& clock = environment.clock;
    const Instant deadline = clock.now() + clientDeadline;
    Instant nextLaunch = clock.now();
    for (;;) {
        if (clock.now() >= deadline) {
            environment.errors << residentDidNotStart << std::flush;
            return exitResidentUnreachable;
        }
        if (clock.now() >= nextLaunch) {
            environment.launchResident();
            nextLaunch = clock.now() + launchInterval;
        }
        clock.sleepFor(waitSlice);
        if (sendToResident(environment.ports, *message)) return exitAccepted;
    }
}

std::filesystem::path ownExecutable(const std::string& argv0) {
    std::error_code error;
    if (argv0.find('/') == std::string::npos) {
        auto running = std::filesystem::read_symlink("/proc/self/exe", error);
        if (!error) return running;
    }
    auto resolved =
        std::filesystem::weakly_canonical(std::filesystem::absolute(argv0, error), error);
    return error ? std::filesystem::path(argv0) : resolved;
}

void launchResident(const std::filesystem::path& executable) {
    posix_spawn_file_actions_t actions;
    if (posix_spawn_file_actions_init(&actions) != 0) return;
    for (int stream : {0, 1, 2}) {
        posix_spawn_file_actions_addopen(&actions, stream, "/dev/null",
                                         stream == 0 ? O_RDONLY : O_WRONLY, 0);
    }
    // The resident outlives the client by minutes: it must not keep open any pipe or file the
    // host handed the client.
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    std::string path = executable.native();
    std::string serve = "serve";
    char* argv[] = {path.data(), serve.data(), nullptr};
    pid_t child = 0;
    posix_spawn(&child, path.c_str(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
}

}  // namespace pelko::notifier
