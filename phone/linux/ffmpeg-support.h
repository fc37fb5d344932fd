// The two things both of the phone's FFmpeg units do: opening a decoder and converting pictures.
#pragma once

#include <cstdint>
#include <memory>

#include "media/ffmpeg-owners.h"

namespace pelko::phone::linux_backend {

using ffmpeg::CodecContext;
using ffmpeg::FramePtr;
using ffmpeg::InputContext;
using ffmpeg::PacketPtr;
using ffmpeg::ScalerPtr;

/// A decoder for `parameters`, set up to run on `threads` threads; null when there is none.
CodecContext openDecoder(const AVCodecParameters* parameters, AVRational packetTimeBase,
                         int threads);

/// Converts pictures of one size and pixel format to another, keeping its context between
/// pictures of the same shape.
class Scaler {
  public:
    /// `source` scaled to `width` × `height` in `format` (packed), into `into` with rows
    /// `bytesPerRow` apart; YUV sources are read with their own matrix and range, and RGB
    /// comes out full range. False when the conversion is not possible.
    bool convert(const AVFrame* source, int width, int height, AVPixelFormat format,
                 std::uint8_t* into, int bytesPerRow, int flags = SWS_AREA);

  private:
    ScalerPtr context_;
};

}  // namespace pelko::phone::linux_backend
