// A Dock tile drawn with Cairo and written to a PNG file each time it is displayed, so a
// person or a test can look at what the Dock would show.
#pragma once

#include <cairo.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>

#include "pango-cairo.h"
#include "platform/dock-tile.h"

namespace pelko::docktile {

/// Where an image of `image` size lands in `frame` under `scaling`, centred as an image view
/// centres it.
Rect imageRect(Size image, Rect frame, ImageScaling scaling);

/// The PNG image in `file`; nothing when it is missing or cannot be decoded.
SurfacePtr loadPNG(const std::filesystem::path& file);

/// The tile's picture (ARGB, transparent where nothing is drawn): the content view's image in
/// its frame or, without a content view or when its image cannot be read, the application's
/// standard icon fitted to the tile. Without a readable standard icon, a grey rounded square
/// stands in for it.
SurfacePtr drawTile(Size size, const std::optional<ImageView>& contentView,
                         const std::optional<std::filesystem::path>& standardIcon);

class PNGDockTile final : public DockTile {
  public:
    /// A tile of `size` points (one pixel each) written to `output`; `standardIcon` is the
    /// application's icon. `displayed` is told of every `display` after the file is written.
    PNGDockTile(Size size, std::filesystem::path output,
                std::optional<std::filesystem::path> standardIcon,
                std::function<void(const std::optional<ImageView>&)> displayed = {});

    Size size() const override { return size_; }
    void setContentView(std::optional<ImageView> view) override { contentView_ = std::move(view); }
    void display() override;
    const std::optional<ImageView>& contentView() const { return contentView_; }

    /// Writes the tile as it looks now, replacing the file at once; false when it could not be
    /// written.
    bool writePNG() const;

  private:
    Size size_;
    std::filesystem::path output_;
    std::optional<std::filesystem::path> standardIcon_;
    std::function<void(const std::optional<ImageView>&)> displayed_;
    std::optional<ImageView> contentView_;
};

}  // namespace pelko::docktile
