// Draws the two app icons the Dock tile shows: the standard icon ("pelko.png", the sample host
// application's) and the alternative one ("pelko-app-icon-personal.png", the plug-in's
// resource). Both are 512 × 512 with the usual transparent margin around a rounded square.
// Usage: pelko-docktile-icons OUTPUT-FOLDER
#include <cairo.h>

#include <cmath>
#include <filesystem>
#include <iostream>
#include <memory>

#include "cairo-shapes.h"
#include "pango-cairo.h"

namespace {

using pelko::CairoPtr;
using pelko::SurfacePtr;

constexpr int iconSize = 512;

struct Colour {
    double red, green, blue;
};

struct IconStyle {
    Colour top;
    Colour bottom;
    Colour mark;
    bool companionSpark;  ///< a second, small spark at the upper right
};

/// A four-pointed spark: points at `radius` on the axes, joined by curves that bow towards the
/// centre.
void sparkPath(cairo_t* cairo, double cx, double cy, double radius) {
    const double pinch = radius * 0.16;
    const double points[4][2] = {
        {cx, cy - radius}, {cx + radius, cy}, {cx, cy + radius}, {cx - radius, cy}};
    const double controls[4][2] = {{cx + pinch, cy - pinch},
                                   {cx + pinch, cy + pinch},
                                   {cx - pinch, cy + pinch},
                                   {cx - pinch, cy - pinch}};
    cairo_move_to(cairo, points[0][0], points[0][1]);
    for (int i = 0; i < 4; ++i) {
        const double* from = points[i];
        const double* to = points[(i + 1) % 4];
        const double* control = controls[i];
        // The quadratic curve from, control, to as a cubic one.
        cairo_curve_to(cairo, from[0] + 2.0 / 3 * (control[0] - from[0]),
                       from[1] + 2.0 / 3 * (control[1] - from[1]),
                       to[0] + 2.0 / 3 * (control[0] - to[0]),
                       to[1] + 2.0 / 3 * (control[1] - to[1]), to[0], to[1]);
    }
    cairo_close_path(cairo);
}

bool drawIcon(const IconStyle& style, const std::filesystem::path& file) {
    SurfacePtr surface(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, iconSize, iconSize));
    CairoPtr owned(cairo_create(surface.get()));
    cairo_t* cairo = owned.get();

    const double margin = iconSize * 0.1;
    const double side = iconSize - 2 * margin;
    const double radius = side * 0.225;

    // A soft shadow under the body.
    for (int step = 6; step >= 1; --step) {
        pelko::roundedRect(cairo, margin - step, margin + 6 - step / 2.0, side + 2 * step,
                           side + 2 * step, radius + step);
        cairo_set_source_rgba(cairo, 0, 0, 0, 0.035);
        cairo_fill(cairo);
    }

    pelko::roundedRect(cairo, margin, margin, side, side, radius);
    std::unique_ptr<cairo_pattern_t, decltype(&cairo_pattern_destroy)> gradient(
        cairo_pattern_create_linear(0, margin, 0, margin + side), cairo_pattern_destroy);
    cairo_pattern_add_color_stop_rgb(gradient.get(), 0, style.top.red, style.top.green,
                                     style.top.blue);
    cairo_pattern_add_color_stop_rgb(gradient.get(), 1, style.bottom.red, style.bottom.green,
                                     style.bottom.blue);
    cairo_set_source(cairo, gradient.get());
    cairo_fill_preserve(cairo);
    // A thin light edge along the top, as lit from above.
    cairo_set_source_rgba(cairo, 1, 1, 1, 0.18);
    cairo_set_line_width(cairo, 3);
    cairo_stroke(cairo);

    const double centre = iconSize / 2.0;
    sparkPath(cairo, centre, centre + side * 0.02, side * 0.32);
    cairo_set_source_rgb(cairo, style.mark.red, style.mark.green, style.mark.blue);
    cairo_fill(cairo);
    if (style.companionSpark) {
        sparkPath(cairo, centre + side * 0.25, centre - side * 0.24, side * 0.1);
        cairo_fill(cairo);
    }

    cairo_surface_flush(surface.get());
    return cairo_surface_write_to_png(surface.get(), file.c_str()) == CAIRO_STATUS_SUCCESS;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: pelko-docktile-icons OUTPUT-FOLDER\n";
        return 2;
    }
    std::filesystem::path folder = argv[1];
    const IconStyle standard{{0.36, 0.33, 0.93}, {0.17, 0.15, 0.52}, {1, 1, 1}, false};
    const IconStyle personal{{0.99, 0.62, 0.27}, {0.86, 0.17, 0.47}, {1, 0.97, 0.9}, true};
    bool written = drawIcon(standard, folder / "pelko.png") &&
                   drawIcon(personal, folder / "pelko-app-icon-personal.png");
    if (!written) {
        std::cerr << "pelko-docktile-icons: cannot write the icons in " << folder << "\n";
        return 1;
    }
    return 0;
}
