#include "phone-process.h"

#include <unistd.h>

#include <algorithm>

#include "discovery.h"
#include "phone-streamer.h"
#include "stream-command.h"

namespace pelko::phone {

const std::string_view usageText =
    "usage:\n"
    "  pelko-phone list\n"
    "  pelko-phone request-permission\n"
    "  pelko-phone stream <uniqueID> [--max-edge N] [--fps N] [--quality Q]\n"
    "  pelko-phone copy-png <absolute path to a .png>";

PhoneProcess::PhoneProcess(Platform& platform, std::vector<std::string> arguments)
    : platform(platform), arguments(std::move(arguments)) {}

void log(int fd, std::string_view message) {
    std::string line = "pelko-phone: ";
    line.append(message);
    line.push_back('\n');
    // One write so that lines from different threads never interleave; failures go unnoticed.
    [[maybe_unused]] auto written = ::write(fd, line.data(), line.size());
}

void printJSONLine(int fd, const JSON& object) {
    auto text = compactJSON(object);
    if (!text) return;
    [[maybe_unused]] auto written = ::write(fd, text->data(), text->size());
    written = ::write(fd, "\n", 1);
}

std::string permissionName(Authorization state) {
    switch (state) {
        case Authorization::notDetermined:
            return "notDetermined";
        case Authorization::restricted:
            return "restricted";
        case Authorization::authorized:
            return "granted";
        default:
            return "denied";
    }
}

void spin(Clock& clock, Duration upTo, Duration step, const std::function<bool()>& until) {
    const Instant deadline = clock.now() + upTo;
    for (;;) {
        if (clock.now() >= deadline) return;
        if (until()) return;
        // The step counts from after the predicate, which may itself take time, and never
        // reaches past the deadline. Nothing else needs the main thread while a command polls,
        // so a pause is the wait.
        const Instant now = clock.now();
        if (now < deadline) clock.sleepFor(std::min(step, deadline - now));
    }
}

void usage(PhoneProcess& process) {
    log(process.platform.errorFd, usageText);
    process.exit(2);
}

namespace {

using Arguments = std::vector<std::string>;

void notAvailableYet(PhoneProcess& process, std::string_view command) {
    log(process.platform.errorFd, std::string(command) + " is not available yet.");
    process.exit(1);
}

struct Command {
    std::string_view word;
    bool (*fits)(const Arguments&);
    void (*run)(PhoneProcess&);
};

// The commands in the order they are checked; a command line whose shape does not fit falls
// through to the next entry and finally to `usage`.
const Command commands[] = {
    {"list", [](const Arguments& a) { return a.size() == 2; }, [](PhoneProcess& p) { runList(p); }},
    {"request-permission", [](const Arguments& a) { return a.size() == 2; },
     [](PhoneProcess& p) { runRequestPermission(p); }},
    {"stream", [](const Arguments& a) { return a.size() >= 3 && !looksLikeOption(a[2]); },
     [](PhoneProcess& p) {
         auto options = parseStreamOptions(std::span(p.arguments).subspan(3));
         if (!options) return usage(p);
         runStream(p, p.arguments[2], *options);
     }},
    {"copy-png", [](const Arguments& a) { return a.size() == 3; },
     [](PhoneProcess& p) { notAvailableYet(p, "copy-png"); }},
    {"frames",
     [](const Arguments& a) {
         return a.size() >= 4 && !looksLikeOption(a[2]) && !looksLikeOption(a[3]);
     },
     [](PhoneProcess& p) { notAvailableYet(p, "frames"); }},
};

}  // namespace

void runCommandLine(PhoneProcess& process) {
    const Arguments& arguments = process.arguments;
    if (arguments.size() >= 2) {
        for (const Command& command : commands) {
            if (arguments[1] == command.word && command.fits(arguments)) {
                return command.run(process);
            }
        }
    }
    usage(process);
}

}  // namespace pelko::phone
