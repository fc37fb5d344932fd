#include "linux/png-dock-tile.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>

#include "cairo-shapes.h"

namespace pelko::docktile {

namespace fs = std::filesystem;

Rect imageRect(Size image, Rect frame, ImageScaling scaling) {
    if (image.width <= 0 || image.height <= 0) return {frame.x, frame.y, 0, 0};
    double scale = 1;
    switch (scaling) {
        case ImageScaling::axesIndependently:
            return frame;
        case ImageScaling::none:
            scale = 1;
            break;
        case ImageScaling::proportionallyDown:
            scale = std::min({1.0, frame.width / image.width, frame.height / image.height});
            break;
        case ImageScaling::proportionallyUpOrDown:
            scale = std::min(frame.width / image.width, frame.height / image.height);
            break;
    }
    double width = image.width * scale;
    double height = image.height * scale;
    return {frame.x + (frame.width - width) / 2, frame.y + (frame.height - height) / 2, width,
            height};
}

SurfacePtr loadPNG(const fs::path& file) {
    SurfacePtr surface(cairo_image_surface_create_from_png(file.c_str()));
    if (cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS) return nullptr;
    return surface;
}

namespace {

/// Paints `image` into `rect`, given with its origin at the lower left of a canvas `height`
/// high.
void paintImage(cairo_t* cairo, cairo_surface_t* image, Rect rect, double height) {
    double imageWidth = cairo_image_surface_get_width(image);
    double imageHeight = cairo_image_surface_get_height(image);
    if (rect.width <= 0 || rect.height <= 0) return;
    cairo_save(cairo);
    cairo_translate(cairo, rect.x, height - rect.y - rect.height);
    cairo_scale(cairo, rect.width / imageWidth, rect.height / imageHeight);
    cairo_set_source_surface(cairo, image, 0, 0);
    cairo_pattern_set_filter(cairo_get_source(cairo), CAIRO_FILTER_GOOD);
    cairo_paint(cairo);
    cairo_restore(cairo);
}

Size sizeOf(cairo_surface_t* image) {
    return {static_cast<double>(cairo_image_surface_get_width(image)),
            static_cast<double>(cairo_image_surface_get_height(image))};
}

}  // namespace

SurfacePtr drawTile(Size size, const std::optional<ImageView>& contentView,
                         const std::optional<fs::path>& standardIcon) {
    int width = std::max(1, static_cast<int>(std::lround(size.width)));
    int height = std::max(1, static_cast<int>(std::lround(size.height)));
    SurfacePtr surface(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height));
    CairoPtr cairo(cairo_create(surface.get()));
    Rect whole{0, 0, size.width, size.height};

    if (contentView) {
        if (auto image = loadPNG(contentView->image.file)) {
            Rect rect =
                imageRect(sizeOf(image.get()), contentView->frame, contentView->imageScaling);
            paintImage(cairo.get(), image.get(), rect, size.height);
            cairo_surface_flush(surface.get());
            return surface;
        }
    }
    if (standardIcon) {
        if (auto icon = loadPNG(*standardIcon)) {
            Rect rect = imageRect(sizeOf(icon.get()), whole, ImageScaling::proportionallyUpOrDown);
            paintImage(cairo.get(), icon.get(), rect, size.height);
            cairo_surface_flush(surface.get());
            return surface;
        }
    }
    double side = std::min(size.width, size.height) * 0.8;
    pelko::roundedRect(cairo.get(), (size.width - side) / 2, (size.height - side) / 2, side, side,
                       side * 0.225);
    cairo_set_source_rgb(cairo.get(), 0.6, 0.6, 0.6);
    cairo_fill(cairo.get());
    cairo_surface_flush(surface.get());
    return surface;
}

PNGDockTile::PNGDockTile(Size size, fs::path output, std::optional<fs::path> standardIcon,
                         std::function<void(const std::optional<ImageView>&)> displayed)
    : size_(size),
      output_(std::move(output)),
      standardIcon_(std::move(standardIcon)),
      displayed_(std::move(displayed)) {}

void PNGDockTile::display() {
    writePNG();
    if (displayed_) displayed_(contentView_);
}

bool PNGDockTile::writePNG() const {
    SurfacePtr surface = drawTile(size_, contentView_, standardIcon_);
    // Written beside the file and renamed over it, so a reader never sees half a picture.
    fs::path temporary = output_;
    temporary += ".new-" + std::to_string(::getpid());
    if (cairo_surface_write_to_png(surface.get(), temporary.c_str()) != CAIRO_STATUS_SUCCESS) {
        std::error_code ignored;
        fs::remove(temporary, ignored);
        return false;
    }
    std::error_code error;
    fs::rename(temporary, output_, error);
    if (!error) return true;
    fs::remove(temporary, error);
    return false;
}

}  // namespace pelko::docktile
