// Picture files read and written with FFmpeg: PNG, JPEG, TIFF, BMP, WebP, GIF and the other
// still-picture formats it knows.
#pragma once

#include "platform/images.h"

namespace pelko::phone::linux_backend {

class FFmpegImageCodec final : public ImageCodec {
  public:
    std::optional<DecodedImage> decodeImage(const std::vector<std::uint8_t>& bytes) override;
    std::optional<std::vector<std::uint8_t>> tiffRendition(const DecodedImage& image) override;
    std::optional<std::vector<std::uint8_t>> pngRendition(const DecodedImage& image) override;
};

}  // namespace pelko::phone::linux_backend
