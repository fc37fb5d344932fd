// pelko-computer's command line. The host starts the program with no arguments (the line
// protocol on the desktop it finds); people and other agents add the MCP face, a desktop of the
// agent's own, or ask what it is.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "own-desktop/command-line.h"

namespace pelko::computer {

struct CommandLine {
    enum class Ask { serve, version, help };
    Ask ask = Ask::serve;
    /// Serve the Model Context Protocol instead of the line protocol.
    bool mcp = false;
    /// With --own-desktop: the desktop's options, and the arguments for the program that serves
    /// inside it.
    std::optional<own_desktop::OwnDesktopCommand> ownDesktop;
};

/// Reads `arguments` (without the program's name). --version and --help win wherever they
/// stand; any argument the program does not know throws `own_desktop::UsageError`, whose text
/// says what is wrong.
CommandLine parseCommandLine(const std::vector<std::string>& arguments);

/// The usage text, one line per way of starting the program, ending in a newline.
extern const char* const commandLineUsage;

/// "pelko-computer 0.9.0" and a newline.
std::string versionLine();

}  // namespace pelko::computer
