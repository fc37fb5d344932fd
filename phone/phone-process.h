// The process-wide values of pelko-phone and the dispatch of its command line.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"

namespace pelko::phone {

/// The process-wide values, made by `main` before the command line is examined. What lives
/// only while a stream runs (its writer, its capture pipeline, its ending) belongs to that
/// stream's `StreamSession`.
struct PhoneProcess {
    /// Makes the values for one run of the program on `platform`.
    PhoneProcess(Platform& platform, std::vector<std::string> arguments);

    /// What the program reaches outside itself; outlives the process values.
    Platform& platform;
    /// The argument vector: element 0 the program path, element 1 the command word.
    std::vector<std::string> arguments;

    /// Ends the process with `status` through the platform.
    void exit(int status) { platform.exitProcess(status); }
};

/// The usage text, without a trailing line feed; `frames` is deliberately not listed.
extern const std::string_view usageText;

/// Logs the usage text and exits with status 2.
void usage(PhoneProcess& process);

/// Examines `process.arguments` and runs the matching command, which ends the process; a
/// command line that fits no command ends in `usage`.
void runCommandLine(PhoneProcess& process);

/// Whether an argument has the shape of an option name.
inline bool looksLikeOption(std::string_view argument) {
    return argument.starts_with("--");
}

}  // namespace pelko::phone
