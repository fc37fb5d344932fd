#include "linux/freedesktop-icons.h"

#include <fstream>

namespace pelko::notifier {
namespace {

/// The icon named in the .desktop entry at `entry`.
AppIcon desktopEntryIcon(const std::filesystem::path& entry) {
    // Only a regular file is read, for the reason `iconFromPNG` gives.
    std::error_code error;
    if (!std::filesystem::is_regular_file(entry, error)) return {};
    std::ifstream in(entry);
    std::string line;
    std::string name;
    while (std::getline(in, line)) {
        if (line.rfind("Icon=", 0) == 0) {
            name = line.substr(5);
            break;
        }
    }
    if (name.empty()) return {};
    if (name.front() == '/') return iconFromPNG(name);
    for (const char* size : {"256x256", "128x128", "64x64", "48x48", "32x32"}) {
        AppIcon themed = iconFromPNG(std::filesystem::path("/usr/share/icons/hicolor") / size /
                                     "apps" / (name + ".png"));
        if (themed.image) return themed;
    }
    return iconFromPNG("/usr/share/pixmaps/" + name + ".png");
}

}  // namespace

AppIcon FreedesktopAppIcons::iconForApp(const std::string& appPath) const {
    if (appPath.empty()) return {};
    std::filesystem::path path(appPath);
    if (AppIcon picture = iconFromPNG(path); picture.image) return picture;
    if (path.extension() == ".desktop") return desktopEntryIcon(path);
    return {};
}

}  // namespace pelko::notifier
