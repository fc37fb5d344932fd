// Pictures for the simulated phone screen: a phone-like home screen with a marker that moves
// from picture to picture, so that scaling and encoding get real, changing content.
#pragma once

#include <cstdint>
#include <vector>

namespace pelko::phone::sim {

class PhoneScreenPainter {
  public:
    /// Paints picture number `frame` of a `width` × `height` screen into `bgra` (resized to
    /// fit, 4 bytes per pixel, rows packed). The still parts are drawn once per size.
    void paint(std::vector<std::uint8_t>& bgra, int width, int height, std::uint64_t frame);

  private:
    void paintStill(int width, int height);
    int width_ = -1;
    int height_ = -1;
    std::vector<std::uint8_t> still_;
};

}  // namespace pelko::phone::sim
