// The command line of the agent's own desktop: `--own-desktop [--headless] [--size WxH]`.
// Every other argument is left for the program that serves inside the desktop.
#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace pelko::computer::own_desktop {

/// The size of the agent's screen in pixels.
struct ScreenSize {
    int width = 1280;
    int height = 800;
    bool operator==(const ScreenSize&) const = default;
};

struct OwnDesktopOptions {
    /// No window: an X server without a screen of its own (for machines without a display).
    bool headless = false;
    ScreenSize size;
    bool operator==(const OwnDesktopOptions&) const = default;
};

/// What `pelko-computer --own-desktop ...` asks for.
struct OwnDesktopCommand {
    OwnDesktopOptions options;
    /// The arguments that are not the desktop's, in their order, for the program run inside.
    std::vector<std::string> passOn;
};

/// A command line that cannot be run; the text says what is wrong.
struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

/// "1280x800" as a size; nothing when it is not two whole numbers between 64 and 16384 joined
/// by an x.
std::optional<ScreenSize> parseScreenSize(const std::string& text);

/// The desktop's part of the command line (`arguments` without the program's name). Nothing
/// when `--own-desktop` is not given; throws `UsageError` for a bad size, a size without its
/// value, or `--headless` or `--size` without `--own-desktop`.
std::optional<OwnDesktopCommand> ownDesktopCommand(const std::vector<std::string>& arguments);

/// The usage line of the desktop's options.
extern const char* const ownDesktopUsage;

}  // namespace pelko::computer::own_desktop
