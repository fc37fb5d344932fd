// Scaling a captured picture to an exact size and encoding it as a JPEG in sRGB.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "platform/capture.h"

struct SwsContext;

namespace pelko::phone {

/// Scales and encodes pictures, keeping its scaler and encoder between pictures. One thread
/// at a time (the capture queue).
class PictureEncoder {
  public:
    /// An encoder; a failure to set up TurboJPEG shows later as pictures that do not encode.
    PictureEncoder();
    ~PictureEncoder();
    PictureEncoder(const PictureEncoder&) = delete;
    PictureEncoder& operator=(const PictureEncoder&) = delete;

    /// The picture scaled to exactly `width` × `height` (both even, at least 2) and encoded as
    /// a baseline JPEG at `quality` (0 to 1); its pixel values are taken as sRGB and stay so.
    /// Nothing when the picture cannot be scaled or encoded.
    std::optional<std::vector<std::uint8_t>> encode(const PixelBuffer& picture, int width,
                                                    int height, double quality);

  private:
    struct SwsFree {
        void operator()(SwsContext* context) const;
    };
    struct TurboFree {
        void operator()(void* handle) const;
    };
    std::unique_ptr<SwsContext, SwsFree> scaler_;
    std::unique_ptr<void, TurboFree> compressor_;
    std::vector<std::uint8_t> planes_;  // the scaled picture as Y, Cb, Cr planes (4:2:0)
};

}  // namespace pelko::phone
