// One picture pipeline for every program that sends JPEG pictures: a BGRA or RGBA bitmap is
// scaled to an exact size straight into full-range 4:2:0 planes (libyuv) and those planes are
// encoded as a baseline JPEG (TurboJPEG), with no second colour conversion in between.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "sharp-plane.h"

namespace pelko::pictures {

/// The byte order of one 32-bit pixel in memory. Alpha is ignored: pixels are taken as opaque.
enum class PixelOrder { bgra, rgba };

/// A bitmap someone else owns: rows top first, `bytesPerRow` apart, values in sRGB.
struct Pixels {
    int width = 0;
    int height = 0;
    int bytesPerRow = 0;
    PixelOrder order = PixelOrder::bgra;
    const std::uint8_t* data = nullptr;
};

/// The encoder's 1..100 quality for a quality on the 0..1 scale the callers use: the nearest
/// whole percent of `quality` × 100, halves away from zero, kept within 1..100 (so 0.72 is 72,
/// 0.7 is 70, 0 and below are 1, 1 and above are 100). Not-a-number counts as 0.
int jpegQuality(double quality);

/// How a picture is made smaller. `fast` averages boxes of pixels, or stretches bilinearly at
/// less than half: cheap enough for a stream of pictures. `sharp` filters the brightness with
/// Lanczos-3 and averages the colour in boxes: text stays as legible as an image editor's
/// downscale leaves it, at about twice the scaling time.
enum class Shrinking { fast, sharp };

/// Scales and encodes pictures. It keeps its encoder and its buffers between pictures, so
/// pictures of one size after another allocate nothing new. One thread at a time.
class JPEGEncoder {
  public:
    /// An encoder; a failure to set up TurboJPEG shows later as pictures that do not encode.
    JPEGEncoder();
    ~JPEGEncoder();
    JPEGEncoder(const JPEGEncoder&) = delete;
    JPEGEncoder& operator=(const JPEGEncoder&) = delete;

    /// The picture scaled to exactly `width` × `height` pixels (any size from 1 × 1, odd ones
    /// included) and encoded as a baseline JPEG, full-range YCbCr with 4:2:0 chroma, at
    /// `quality` (0..1, see `jpegQuality`). Made smaller in both directions, it shrinks as
    /// `shrinking` says (fast: by half or more averaging whole boxes, else bilinear); any
    /// other change of size is bilinear. The pixel values stay sRGB. Nothing when the picture
    /// is empty, its rows are shorter than its width or a size is beyond what a JPEG can hold.
    std::optional<std::vector<std::uint8_t>> encode(const Pixels& picture, int width, int height,
                                                    double quality,
                                                    Shrinking shrinking = Shrinking::fast);

  private:
    struct TurboFree {
        void operator()(void* handle) const;
    };
    struct BufferFree {
        void operator()(unsigned char* buffer) const;
    };
    std::unique_ptr<void, TurboFree> compressor_;
    Scratch scaled_;          // the picture at the output size, same pixel order
    Scratch halved_;          // the picture at half its size, before the last stretch
    Scratch full_;            // the picture's planes at its own size (sharp: colour only)
    Scratch ring_;            // the latest rows of the picture's brightness (sharp)
    Scratch planes_;          // Y, Cb and Cr planes of the output
    SharpPlaneScaler sharp_;  // the brightness plane's Lanczos filter
    std::unique_ptr<unsigned char, BufferFree> jpeg_;  // room for the largest JPEG of that size
    unsigned long jpegCapacity_ = 0;
};

}  // namespace pelko::pictures
