// App icons on a freedesktop.org desktop: a PNG file itself, or the icon a .desktop entry
// names, found in the hicolor icon theme or the pixmaps folder.
#pragma once

#include "platform/app-icons.h"

namespace pelko::notifier {

/// The icon of a PNG file is its picture; that of a .desktop entry the PNG its "Icon=" line
/// names: an absolute path, or a name looked up in /usr/share/icons/hicolor (256, 128, 64, 48
/// and 32 pixels, the largest first) and then /usr/share/pixmaps. Anything else has the
/// program's own icon.
class FreedesktopAppIcons final : public AppIcons {
  public:
    AppIcon iconForApp(const std::string& appPath) const override;
};

}  // namespace pelko::notifier
