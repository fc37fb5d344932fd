#include "sim/sim-app-icons.h"

namespace pelko::notifier {

void SimAppIcons::add(const std::string& appPath, const std::filesystem::path& imagePath) {
    images_[appPath] = imagePath;
}

AppIcon SimAppIcons::iconForApp(const std::string& appPath) const {
    auto found = images_.find(appPath);
    if (found == images_.end()) return {};
    return iconFromPNG(found->second);
}

}  // namespace pelko::notifier
