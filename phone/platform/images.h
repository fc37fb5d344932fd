// The picture-file seam: reading a picture from the bytes of a file in any format the system
// knows, and writing it again as PNG and TIFF.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace pelko::phone {

/// A decoded picture: 8-bit R, G, B, A samples (alpha not premultiplied), rows top first, no
/// padding between rows.
struct DecodedImage {
    int width = 0;
    int height = 0;
    /// Whether the picture had transparency of its own; opaque pictures have alpha 255 and are
    /// written without an alpha channel.
    bool hasAlpha = false;
    std::vector<std::uint8_t> rgba;
};

class ImageCodec {
  public:
    virtual ~ImageCodec() = default;
    /// The picture in `bytes` (the first one of an animation); nothing when they hold no
    /// picture the system can read.
    virtual std::optional<DecodedImage> decodeImage(const std::vector<std::uint8_t>& bytes) = 0;
    /// The picture as a TIFF file; nothing when it cannot be made.
    virtual std::optional<std::vector<std::uint8_t>> tiffRendition(const DecodedImage& image) = 0;
    /// The picture as a PNG file; nothing when it cannot be made.
    virtual std::optional<std::vector<std::uint8_t>> pngRendition(const DecodedImage& image) = 0;
};

}  // namespace pelko::phone
