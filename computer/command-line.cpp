#include "command-line.h"

#include <algorithm>

#include "installed.h"

namespace pelko::computer {

const char* const commandLineUsage =
    "usage: pelko-computer [--mcp]\n"
    "       pelko-computer --own-desktop [--headless] [--size WxH] [--mcp]\n"
    "       pelko-computer --version | --help\n";

std::string versionLine() {
    return std::string("pelko-computer ") + pelkoVersion + "\n";
}

CommandLine parseCommandLine(const std::vector<std::string>& arguments) {
    CommandLine line;
    const auto given = [&](const char* word) {
        return std::find(arguments.begin(), arguments.end(), word) != arguments.end();
    };
    if (given("--help")) {
        line.ask = CommandLine::Ask::help;
        return line;
    }
    if (given("--version")) {
        line.ask = CommandLine::Ask::version;
        return line;
    }
    line.ownDesktop = own_desktop::ownDesktopCommand(arguments);
    // What the program itself takes: all of it, or what the desktop passes on to it.
    for (const std::string& argument : line.ownDesktop ? line.ownDesktop->passOn : arguments) {
        if (argument != "--mcp")
            throw own_desktop::UsageError("unknown argument \"" + argument + "\".");
        line.mcp = true;
    }
    return line;
}

}  // namespace pelko::computer
