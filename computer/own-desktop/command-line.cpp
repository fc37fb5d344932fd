#include "command-line.h"

#include <charconv>

namespace pelko::computer::own_desktop {
namespace {

constexpr int smallestSide = 64;
constexpr int largestSide = 16384;

std::optional<int> side(std::string_view text) {
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size()) return {};
    if (value < smallestSide || value > largestSide) return {};
    return value;
}

}  // namespace

const char* const ownDesktopUsage = "pelko-computer --own-desktop [--headless] [--size WxH]";

std::optional<ScreenSize> parseScreenSize(const std::string& text) {
    const auto x = text.find('x');
    if (x == std::string::npos) return {};
    const std::string_view all(text);
    const auto width = side(all.substr(0, x));
    const auto height = side(all.substr(x + 1));
    if (!width || !height) return {};
    return ScreenSize{*width, *height};
}

std::optional<OwnDesktopCommand> ownDesktopCommand(const std::vector<std::string>& arguments) {
    OwnDesktopCommand command;
    bool wanted = false;
    std::optional<std::string> desktopOnly;  // a desktop option seen, for the error without it
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (argument == "--own-desktop") {
            wanted = true;
        } else if (argument == "--headless") {
            command.options.headless = true;
            desktopOnly = argument;
        } else if (argument == "--size" || argument.rfind("--size=", 0) == 0) {
            std::string value;
            if (argument == "--size") {
                if (i + 1 == arguments.size())
                    throw UsageError("--size needs the screen's size, as in --size 1280x800.");
                value = arguments[++i];
            } else {
                value = argument.substr(7);
            }
            const auto size = parseScreenSize(value);
            if (!size)
                throw UsageError(
                    "--size takes a width and a height in pixels from 64 to 16384, "
                    "as in --size 1280x800, not \"" +
                    value + "\".");
            command.options.size = *size;
            desktopOnly = "--size";
        } else {
            command.passOn.push_back(argument);
        }
    }
    if (!wanted) {
        if (desktopOnly)
            throw UsageError(*desktopOnly + " goes with --own-desktop: " + ownDesktopUsage);
        return {};
    }
    return command;
}

}  // namespace pelko::computer::own_desktop
