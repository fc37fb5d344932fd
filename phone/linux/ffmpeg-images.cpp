#include "ffmpeg-images.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "ffmpeg-support.h"

namespace pelko::phone::linux_backend {

namespace {

/// Bytes in memory, read by FFmpeg through its input callbacks.
struct MemoryInput {
    const std::vector<std::uint8_t>& bytes;
    std::size_t at = 0;

    static int read(void* opaque, std::uint8_t* into, int size) {
        auto* input = static_cast<MemoryInput*>(opaque);
        const std::size_t count =
            std::min(static_cast<std::size_t>(size), input->bytes.size() - input->at);
        if (count == 0) return AVERROR_EOF;
        std::memcpy(into, input->bytes.data() + input->at, count);
        input->at += count;
        return static_cast<int>(count);
    }

    static std::int64_t seek(void* opaque, std::int64_t offset, int whence) {
        auto* input = static_cast<MemoryInput*>(opaque);
        const auto size = static_cast<std::int64_t>(input->bytes.size());
        if (whence & AVSEEK_SIZE) return size;
        std::int64_t to = offset;
        switch (whence & ~AVSEEK_FORCE) {
            case SEEK_SET:
                break;
            case SEEK_CUR:
                to += static_cast<std::int64_t>(input->at);
                break;
            case SEEK_END:
                to += size;
                break;
            default:
                return AVERROR(EINVAL);
        }
        if (to < 0 || to > size) return AVERROR(EINVAL);
        input->at = static_cast<std::size_t>(to);
        return to;
    }
};

struct IOContextDeleter {
    void operator()(AVIOContext* context) const {
        av_freep(&context->buffer);
        avio_context_free(&context);
    }
};
using IOContext = std::unique_ptr<AVIOContext, IOContextDeleter>;

/// Whether FFmpeg read the bytes as a still picture (its picture readers are named after the
/// format with "_pipe", or are the animated-picture readers), not as a film or a sound.
bool isPictureFormat(std::string_view name) {
    return name.ends_with("_pipe") || name == "gif" || name == "apng" || name == "ico";
}

/// The first picture FFmpeg decodes from `input`; null when there is none.
FramePtr firstPicture(AVFormatContext* input) {
    int index = -1;
    for (unsigned i = 0; i < input->nb_streams; ++i) {
        if (input->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) {
            index = static_cast<int>(i);
            break;
        }
    }
    if (index < 0) return {};
    CodecContext decoder =
        openDecoder(input->streams[index]->codecpar, input->streams[index]->time_base, 1);
    PacketPtr packet(av_packet_alloc());
    FramePtr frame(av_frame_alloc());
    if (!decoder || !packet || !frame) return {};
    bool ended = false;
    for (;;) {
        const int received = avcodec_receive_frame(decoder.get(), frame.get());
        if (received == 0) return frame;
        if (received != AVERROR(EAGAIN) || ended) return {};
        if (av_read_frame(input, packet.get()) < 0) {
            ended = true;
            avcodec_send_packet(decoder.get(), nullptr);
            continue;
        }
        if (packet->stream_index == index) avcodec_send_packet(decoder.get(), packet.get());
        av_packet_unref(packet.get());
    }
}

/// `image` written by FFmpeg's encoder `codecId`, with or without its alpha channel.
std::optional<std::vector<std::uint8_t>> encodePicture(AVCodecID codecId,
                                                       const DecodedImage& image) {
    const AVCodec* codec = avcodec_find_encoder(codecId);
    if (!codec || image.width <= 0 || image.height <= 0 ||
        image.rgba.size() != static_cast<std::size_t>(image.width) * image.height * 4) {
        return {};
    }
    CodecContext encoder(avcodec_alloc_context3(codec));
    FramePtr frame(av_frame_alloc());
    PacketPtr packet(av_packet_alloc());
    if (!encoder || !frame || !packet) return {};
    const AVPixelFormat format = image.hasAlpha ? AV_PIX_FMT_RGBA : AV_PIX_FMT_RGB24;
    encoder->width = image.width;
    encoder->height = image.height;
    encoder->pix_fmt = format;
    encoder->time_base = {1, 1};
    if (avcodec_open2(encoder.get(), codec, nullptr) < 0) return {};

    frame->format = format;
    frame->width = image.width;
    frame->height = image.height;
    if (av_frame_get_buffer(frame.get(), 0) < 0) return {};
    const int channels = image.hasAlpha ? 4 : 3;
    for (int y = 0; y < image.height; ++y) {
        const std::uint8_t* from =
            image.rgba.data() + static_cast<std::size_t>(y) * image.width * 4;
        std::uint8_t* to = frame->data[0] + static_cast<std::size_t>(y) * frame->linesize[0];
        for (int x = 0; x < image.width; ++x)
            std::memcpy(to + x * channels, from + x * 4, channels);
    }

    if (avcodec_send_frame(encoder.get(), frame.get()) < 0 ||
        avcodec_send_frame(encoder.get(), nullptr) < 0 ||
        avcodec_receive_packet(encoder.get(), packet.get()) < 0) {
        return {};
    }
    return std::vector<std::uint8_t>(packet->data, packet->data + packet->size);
}

}  // namespace

std::optional<DecodedImage> FFmpegImageCodec::decodeImage(const std::vector<std::uint8_t>& bytes) {
    if (bytes.empty()) return {};
    MemoryInput memory{bytes};
    constexpr int bufferSize = 65536;
    auto* buffer = static_cast<std::uint8_t*>(av_malloc(bufferSize));
    if (!buffer) return {};
    IOContext io(avio_alloc_context(buffer, bufferSize, 0, &memory, &MemoryInput::read, nullptr,
                                    &MemoryInput::seek));
    if (!io) {
        av_free(buffer);
        return {};
    }
    AVFormatContext* raw = avformat_alloc_context();
    if (!raw) return {};
    raw->pb = io.get();
    raw->flags |= AVFMT_FLAG_CUSTOM_IO;
    // On failure the context is freed here; the reader stays ours.
    if (avformat_open_input(&raw, nullptr, nullptr, nullptr) < 0) return {};
    InputContext input(raw);
    if (!isPictureFormat(input->iformat->name)) return {};

    FramePtr picture = firstPicture(input.get());
    if (!picture) return {};
    DecodedImage image;
    image.width = picture->width;
    image.height = picture->height;
    if (image.width <= 0 || image.height <= 0) return {};
    image.rgba.resize(static_cast<std::size_t>(image.width) * image.height * 4);
    Scaler scaler;
    if (!scaler.convert(picture.get(), image.width, image.height, AV_PIX_FMT_RGBA,
                        image.rgba.data(), image.width * 4,
                        SWS_BICUBIC | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT)) {
        return {};
    }
    for (std::size_t at = 3; at < image.rgba.size() && !image.hasAlpha; at += 4) {
        image.hasAlpha = image.rgba[at] != 255;
    }
    return image;
}

std::optional<std::vector<std::uint8_t>> FFmpegImageCodec::tiffRendition(
    const DecodedImage& image) {
    return encodePicture(AV_CODEC_ID_TIFF, image);
}

std::optional<std::vector<std::uint8_t>> FFmpegImageCodec::pngRendition(const DecodedImage& image) {
    return encodePicture(AV_CODEC_ID_PNG, image);
}

}  // namespace pelko::phone::linux_backend
