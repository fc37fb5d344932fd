#include "phone-process.h"

#include "copy-png-command.h"
#include "discovery.h"
#include "frames-command.h"
#include "output.h"
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

void usage(PhoneProcess& process) {
    log(process.platform.errorFd, usageText);
    process.exit(2);
}

namespace {

using Arguments = std::vector<std::string>;

struct Command {
    std::string_view word;
    bool (*fits)(const Arguments&);
    void (*run)(PhoneProcess&);
};

// The commands in the order they are checked; a command line whose shape does not fit falls
// through to the next entry and finally to `usage`.
const Command commands[] = {
    {"list", [](const Arguments& a) { return a.size() == 2; },
     [](PhoneProcess& p) { runList(p.platform); }},
    {"request-permission", [](const Arguments& a) { return a.size() == 2; },
     [](PhoneProcess& p) { runRequestPermission(p.platform); }},
    {"stream", [](const Arguments& a) { return a.size() >= 3 && !looksLikeOption(a[2]); },
     [](PhoneProcess& p) {
         auto options = parseStreamOptions(std::span(p.arguments).subspan(3));
         if (!options) return usage(p);
         runStream(p.platform, p.arguments[2], *options);
     }},
    {"copy-png", [](const Arguments& a) { return a.size() == 3; },
     [](PhoneProcess& p) { runCopyPNG(p.platform, p.arguments[2]); }},
    {"frames",
     [](const Arguments& a) {
         return a.size() >= 4 && !looksLikeOption(a[2]) && !looksLikeOption(a[3]);
     },
     [](PhoneProcess& p) {
         auto options = parseFramesOptions(std::span(p.arguments).subspan(4));
         if (!options) return usage(p);
         runFrames(p.platform, p.arguments[2], p.arguments[3], *options);
     }},
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
