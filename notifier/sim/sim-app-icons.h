// The simulated app icons: a table from app paths to PNG files, filled by whoever sets the
// scene (a test), in place of a desktop's icon look-up.
#pragma once

#include <filesystem>
#include <map>

#include "platform/app-icons.h"

namespace pelko::notifier {

/// App icons from a table. An app the table does not hold, or whose PNG cannot be read, has
/// the program's own icon.
class SimAppIcons final : public AppIcons {
  public:
    /// From now on the icon of `appPath` is the PNG at `imagePath`, read at each look-up.
    void add(const std::string& appPath, const std::filesystem::path& imagePath);

    AppIcon iconForApp(const std::string& appPath) const override;

  private:
    std::map<std::string, std::filesystem::path> images_;
};

}  // namespace pelko::notifier
