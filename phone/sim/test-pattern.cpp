#include "sim/test-pattern.h"

#include <algorithm>
#include <cstring>

namespace pelko::phone::sim {

namespace {

void fillRect(std::vector<std::uint8_t>& bgra, int width, int height, int x0, int y0, int x1,
              int y1, std::uint8_t r, std::uint8_t g, std::uint8_t b) {
    x0 = std::clamp(x0, 0, width);
    x1 = std::clamp(x1, 0, width);
    y0 = std::clamp(y0, 0, height);
    y1 = std::clamp(y1, 0, height);
    for (int y = y0; y < y1; ++y) {
        std::uint8_t* pixel = bgra.data() + (static_cast<std::size_t>(y) * width + x0) * 4;
        for (int x = x0; x < x1; ++x, pixel += 4) {
            pixel[0] = b;
            pixel[1] = g;
            pixel[2] = r;
            pixel[3] = 255;
        }
    }
}

}  // namespace

void PhoneScreenPainter::paintStill(int width, int height) {
    width_ = width;
    height_ = height;
    still_.assign(static_cast<std::size_t>(width) * height * 4, 0);
    // A wallpaper gradient from deep blue at the top to violet at the bottom.
    for (int y = 0; y < height; ++y) {
        const int t = height > 1 ? y * 255 / (height - 1) : 0;
        fillRect(still_, width, height, 0, y, width, y + 1, static_cast<std::uint8_t>(40 + t / 2),
                 static_cast<std::uint8_t>(30 + t / 8), static_cast<std::uint8_t>(120 + t / 3));
    }
    const int unit = std::max(1, std::min(width, height) / 20);
    fillRect(still_, width, height, 0, 0, width, 2 * unit, 10, 10, 14);  // status bar
    // A grid of app icons, four to a row, each its own colour.
    const int columns = 4;
    const int cell = width / columns;
    const int icon = cell * 2 / 3;
    for (int row = 0; row < 6; ++row) {
        for (int column = 0; column < columns; ++column) {
            const int x = column * cell + (cell - icon) / 2;
            const int y = 4 * unit + row * (cell + unit);
            const int n = row * columns + column;
            fillRect(still_, width, height, x, y, x + icon, y + icon,
                     static_cast<std::uint8_t>(60 + n * 37 % 190),
                     static_cast<std::uint8_t>(80 + n * 53 % 170),
                     static_cast<std::uint8_t>(50 + n * 71 % 200));
        }
    }
    fillRect(still_, width, height, unit, height - 5 * unit, width - unit, height - unit, 200, 200,
             210);  // dock
}

void PhoneScreenPainter::paint(std::vector<std::uint8_t>& bgra, int width, int height,
                               std::uint64_t frame) {
    if (width != width_ || height != height_) paintStill(width, height);
    bgra.resize(still_.size());
    std::memcpy(bgra.data(), still_.data(), still_.size());
    // A marker sweeping across the screen below the status bar.
    const int unit = std::max(1, std::min(width, height) / 20);
    const int x = static_cast<int>(frame * unit % static_cast<std::uint64_t>(std::max(width, 1)));
    fillRect(bgra, width, height, x, 2 * unit, x + 2 * unit, 3 * unit, 255, 200, 0);
}

}  // namespace pelko::phone::sim
