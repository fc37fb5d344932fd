// Shapes that the programs drawing with Cairo share. Header only: pelko-common does not link
// Cairo; the targets that include this do.
#pragma once

#include <cairo.h>

#include <algorithm>
#include <cmath>

namespace pelko {

/// Adds a rectangle with rounded corners to the current path; the radius is held to half the
/// shorter side.
inline void roundedRect(cairo_t* cairo, double x, double y, double width, double height,
                        double radius) {
    radius = std::clamp(radius, 0.0, std::max(0.0, std::min(width, height) / 2));
    cairo_new_sub_path(cairo);
    cairo_arc(cairo, x + width - radius, y + radius, radius, -M_PI / 2, 0);
    cairo_arc(cairo, x + width - radius, y + height - radius, radius, 0, M_PI / 2);
    cairo_arc(cairo, x + radius, y + height - radius, radius, M_PI / 2, M_PI);
    cairo_arc(cairo, x + radius, y + radius, radius, M_PI, 3 * M_PI / 2);
    cairo_close_path(cairo);
}

}  // namespace pelko
