// Between the X server's pixels and the windowing seam's points: monitors and the work area
// become screens with visible frames, and rectangles and points change their origin and
// direction. No X connection is needed here.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/windowing.h"

namespace pelko::notifier {

/// A rectangle of the X screen in whole pixels, from its top-left corner, y downward.
struct PixelRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    bool operator==(const PixelRect&) const = default;
};

/// One monitor as RandR reports it.
struct Monitor {
    PixelRect frame;
    bool primary = false;
};

/// How the X screen's pixels map to points: `scale` pixels a point, and the seam's y 0 is the
/// bottom edge of the X screen (the root window), `rootHeight` pixels below its top.
struct ScreenSpace {
    double scale = 1;
    int rootHeight = 0;

    /// A rectangle of the X screen in points, y upward.
    Rect toPoints(PixelRect pixels) const;
    /// A point of the X screen in points, y upward.
    Point toPoints(int x, int y) const;
    /// A rectangle in points on the X screen, each edge rounded to the nearest pixel.
    PixelRect toPixels(Rect points) const;
};

/// The screens for `monitors`, the primary one first (else RandR's order): each frame is its
/// monitor, each visible frame its part of `workArea` (the area the desktop's panels leave
/// free), or the whole monitor when there is no work area or it misses the monitor.
std::vector<Screen> screensFor(const std::vector<Monitor>& monitors,
                               const std::optional<PixelRect>& workArea, const ScreenSpace& space);

/// Pixels a point for the value of GDK_SCALE (the desktop's integer scale for large pixels):
/// a whole number from 1 to 8, else 1.
double desktopScale(const char* gdkScale);

}  // namespace pelko::notifier
