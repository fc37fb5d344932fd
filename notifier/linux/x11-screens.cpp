#include "linux/x11-screens.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace pelko::notifier {
namespace {

std::optional<PixelRect> intersection(PixelRect a, PixelRect b) {
    int left = std::max(a.x, b.x);
    int top = std::max(a.y, b.y);
    int right = std::min(a.x + a.width, b.x + b.width);
    int bottom = std::min(a.y + a.height, b.y + b.height);
    if (right <= left || bottom <= top) return std::nullopt;
    return PixelRect{left, top, right - left, bottom - top};
}

}  // namespace

Rect ScreenSpace::toPoints(PixelRect pixels) const {
    return {pixels.x / scale, (rootHeight - pixels.y - pixels.height) / scale, pixels.width / scale,
            pixels.height / scale};
}

Point ScreenSpace::toPoints(int x, int y) const {
    return {x / scale, (rootHeight - y) / scale};
}

PixelRect ScreenSpace::toPixels(Rect points) const {
    // Edges are rounded, not sizes, so that neighbours stay neighbours at any scale.
    int left = static_cast<int>(std::lround(points.x * scale));
    int right = static_cast<int>(std::lround(points.maxX() * scale));
    int top = static_cast<int>(std::lround(rootHeight - points.maxY() * scale));
    int bottom = static_cast<int>(std::lround(rootHeight - points.y * scale));
    return {left, top, right - left, bottom - top};
}

std::vector<Screen> screensFor(const std::vector<Monitor>& monitors,
                               const std::optional<PixelRect>& workArea, const ScreenSpace& space) {
    std::vector<Screen> screens;
    auto primary = std::find_if(monitors.begin(), monitors.end(),
                                [](const Monitor& monitor) { return monitor.primary; });
    auto add = [&](const Monitor& monitor) {
        std::optional<PixelRect> visible =
            workArea ? intersection(monitor.frame, *workArea) : std::nullopt;
        screens.push_back(
            {space.toPoints(monitor.frame), space.toPoints(visible.value_or(monitor.frame))});
    };
    if (primary != monitors.end()) add(*primary);
    for (auto it = monitors.begin(); it != monitors.end(); ++it)
        if (it != primary) add(*it);
    return screens;
}

double desktopScale(const char* gdkScale) {
    if (!gdkScale || !*gdkScale) return 1;
    char* end = nullptr;
    long value = std::strtol(gdkScale, &end, 10);
    if (*end != '\0' || value < 1 || value > 8) return 1;
    return static_cast<double>(value);
}

}  // namespace pelko::notifier
