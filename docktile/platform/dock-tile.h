// The Dock tile seam: the tile the Dock hands a plug-in, which shows either a content view or,
// without one, the application's standard icon.
#pragma once

#include <filesystem>
#include <optional>

namespace pelko::docktile {

struct Size {
    double width = 0;
    double height = 0;
    bool operator==(const Size&) const = default;
};

/// A rectangle in a view's coordinates (origin at the lower left, as on the platform).
struct Rect {
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;
    bool operator==(const Rect&) const = default;
};

/// An image loaded from a file of a bundle.
struct Image {
    std::filesystem::path file;
    bool operator==(const Image&) const = default;
};

/// How an image view fits its image into its frame; the values are the platform's.
enum class ImageScaling {
    proportionallyDown = 0,
    axesIndependently = 1,
    none = 2,
    proportionallyUpOrDown = 3,
};

/// A view that shows one image in its frame.
struct ImageView {
    Rect frame;
    ImageScaling imageScaling = ImageScaling::proportionallyDown;
    Image image;
    bool operator==(const ImageView&) const = default;
};

/// The tile. Used on the main thread only.
class DockTile {
  public:
    virtual ~DockTile() = default;
    /// The tile's size in points.
    virtual Size size() const = 0;
    /// Shows `view` on the tile; nothing brings back the application's standard icon. Takes
    /// effect at the next `display`.
    virtual void setContentView(std::optional<ImageView> view) = 0;
    /// Redraws the tile from its content view.
    virtual void display() = 0;
};

}  // namespace pelko::docktile
