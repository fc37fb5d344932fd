// The client role: one command line becomes one message for the resident, which is started
// when none answers.
#pragma once

#include <filesystem>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "clock.h"
#include "platform/message-port.h"

namespace pelko::notifier {

/// Exit statuses of the client.
inline constexpr int exitAccepted = 0;
inline constexpr int exitBadCommandLine = 2;
inline constexpr int exitResidentUnreachable = 3;

/// The one line written when no resident could be reached in time.
inline constexpr const char* residentDidNotStart = "pelko-notifier: resident did not start\n";

/// What the client needs from its surroundings.
struct ClientEnvironment {
    MessagePorts& ports;
    /// Time for the wait loop: the deadline, the launch interval and the slices between tries.
    Clock& clock;
    /// Starts a resident without waiting for it (`launchResident` in the program).
    std::function<void()> launchResident;
    /// Standard error.
    std::ostream& errors;
};

/// One client run over `args` (program path dropped); returns the process exit status.
int runClient(const std::vector<std::string>& args, ClientEnvironment& environment);

/// Hands `message` to the resident: one request with identifier 1 and a 2-second limit. True
/// exactly when the resident received it.
bool sendToResident(MessagePorts& ports, const std::string& message);

/// `argv0` made absolute against the current folder, symbolic links resolved. A bare program
/// name (found through PATH, so not relative to the current folder) resolves to the running
/// executable instead.
std::filesystem::path ownExecutable(const std::string& argv0);

/// Starts `executable serve` in the background with standard streams on the null device; not
/// waited for. A failure to start is ignored.
void launchResident(const std::filesystem::path& executable);

}  // namespace pelko::notifier
