// FFmpeg objects held by unique_ptr with their own free functions, so every path releases them,
// and the two things both FFmpeg units do: opening a decoder and converting pictures.
#pragma once

#include <cstdint>
#include <memory>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

namespace pelko::phone::linux_backend {

struct InputDeleter {
    void operator()(AVFormatContext* context) const { avformat_close_input(&context); }
};
struct CodecDeleter {
    void operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
};
struct FrameDeleter {
    void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
struct PacketDeleter {
    void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};
struct ScalerDeleter {
    void operator()(SwsContext* context) const { sws_freeContext(context); }
};

using InputContext = std::unique_ptr<AVFormatContext, InputDeleter>;
using CodecContext = std::unique_ptr<AVCodecContext, CodecDeleter>;
using FramePtr = std::unique_ptr<AVFrame, FrameDeleter>;
using PacketPtr = std::unique_ptr<AVPacket, PacketDeleter>;
using ScalerPtr = std::unique_ptr<SwsContext, ScalerDeleter>;

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
