// The app-icon seam: the picture a card shows for the file or app its post names.
#pragma once

#include <filesystem>
#include <string>
#include <system_error>

#include "pango-cairo.h"

namespace pelko::notifier {

/// The icon a card shows: a picture, or the program's own icon when there is none.
struct AppIcon {
    /// The image file the picture was read from; empty for the program's own icon.
    std::string imagePath;
    /// The picture; null for the program's own icon, which the card draws itself.
    SurfacePtr image;
};

/// Where the icons of files and apps come from. Called on the main thread.
class AppIcons {
  public:
    virtual ~AppIcons() = default;
    /// The icon of the file or app at `appPath`: its picture where one can be had, else the
    /// program's own. Never waits for anything but reading a few local files.
    virtual AppIcon iconForApp(const std::string& appPath) const = 0;
};

/// The PNG image in the file at `path` as an icon; the program's own icon when the file is not
/// a regular file holding a readable PNG. Only regular files are opened: reading a FIFO or a
/// device would block the resident's main thread, and with it every card, for good.
inline AppIcon iconFromPNG(const std::filesystem::path& path) {
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error)) return {};
    SurfacePtr image(cairo_image_surface_create_from_png(path.c_str()));
    if (cairo_surface_status(image.get()) != CAIRO_STATUS_SUCCESS) return {};
    return {path.string(), std::move(image)};
}

}  // namespace pelko::notifier
