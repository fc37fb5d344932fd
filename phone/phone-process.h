// The process-wide values of pelko-phone, the command line, and the small output and waiting
// functions every command uses.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "clock.h"
#include "json-line.h"
#include "main-loop.h"
#include "platform/capture.h"
#include "platform/usb.h"

namespace pelko::phone {

/// Everything the program reaches outside itself. `main` makes the real one; tests make their
/// own with simulated devices, a virtual clock, pipes for the standard streams and an exit
/// that does not end the test.
struct Platform {
    CaptureSystem& capture;
    UsbDevices& usb;
    Clock& clock;
    /// The main thread's loop; commands that wait for the system park the main thread in it.
    MainLoop& mainLoop;
    int inputFd = 0;
    int outputFd = 1;
    int errorFd = 2;
    /// Ends the process with the status. The real one never returns; a test's may return (then
    /// the caller returns too) or throw.
    std::function<void(int status)> exitProcess;
};

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

/// Writes "pelko-phone: ", the message and a line feed to `fd` as one write. Any thread.
void log(int fd, std::string_view message);

/// Writes `object` as compact JSON to `fd`, then a line feed in a second write. Writes nothing
/// when the object cannot be serialised.
void printJSONLine(int fd, const JSON& object);

/// The word for a camera authorisation state: "notDetermined", "restricted", "granted" or,
/// for denied and any unknown value, "denied".
std::string permissionName(Authorization state);

/// Waits up to `upTo` on the calling thread in steps of at most `step`, stopping as soon as
/// `until` returns true. The time test comes first, so `until` is never asked after the
/// deadline.
void spin(Clock& clock, Duration upTo, Duration step, const std::function<bool()>& until);

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
