// The benchmark's baseline: scaling with libswscale (BGRA straight to full-range 4:2:0 planes)
// and encoding those planes with TurboJPEG, the way the phone stream worked before libyuv.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

struct SwsContext;

namespace pelko::bench {

/// Scales and encodes pictures, keeping its scaler and encoder between pictures. One thread
/// at a time (the capture queue).
class SwscaleEncoder {
  public:
    /// An encoder; a failure to set up TurboJPEG shows later as pictures that do not encode.
    SwscaleEncoder();
    ~SwscaleEncoder();
    SwscaleEncoder(const SwscaleEncoder&) = delete;
    SwscaleEncoder& operator=(const SwscaleEncoder&) = delete;

    /// The picture scaled to exactly `width` × `height` (both even, at least 2) and encoded as
    /// a baseline JPEG at `quality` (0 to 1); its pixel values are taken as sRGB and stay so.
    /// Nothing when the picture cannot be scaled or encoded.
    std::optional<std::vector<std::uint8_t>> encode(const std::uint8_t* bgra, int sourceWidth,
                                                    int sourceHeight, int bytesPerRow, int width,
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

}  // namespace pelko::bench
