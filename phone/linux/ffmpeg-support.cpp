#include "ffmpeg-support.h"

extern "C" {
#include <libavutil/pixdesc.h>
}

namespace pelko::phone::linux_backend {

namespace {

/// The YUV matrix of a picture, as the scaler names it. Pictures that do not say are taken as
/// BT.709 from 720 rows up and BT.601 below, as players do.
int yuvMatrix(const AVFrame* frame) {
    switch (frame->colorspace) {
        case AVCOL_SPC_BT709:
            return SWS_CS_ITU709;
        case AVCOL_SPC_FCC:
            return SWS_CS_FCC;
        case AVCOL_SPC_BT470BG:
        case AVCOL_SPC_SMPTE170M:
            return SWS_CS_ITU601;
        case AVCOL_SPC_SMPTE240M:
            return SWS_CS_SMPTE240M;
        case AVCOL_SPC_BT2020_NCL:
        case AVCOL_SPC_BT2020_CL:
            return SWS_CS_BT2020;
        default:
            return frame->height >= 720 ? SWS_CS_ITU709 : SWS_CS_ITU601;
    }
}

bool isFullRangeFormat(AVPixelFormat format) {
    return format == AV_PIX_FMT_YUVJ420P || format == AV_PIX_FMT_YUVJ422P ||
           format == AV_PIX_FMT_YUVJ444P || format == AV_PIX_FMT_YUVJ440P ||
           format == AV_PIX_FMT_YUVJ411P;
}

}  // namespace

CodecContext openDecoder(const AVCodecParameters* parameters, AVRational packetTimeBase,
                         int threads) {
    const AVCodec* codec = avcodec_find_decoder(parameters->codec_id);
    if (!codec) return {};
    CodecContext context(avcodec_alloc_context3(codec));
    if (!context || avcodec_parameters_to_context(context.get(), parameters) < 0) return {};
    context->pkt_timebase = packetTimeBase;
    context->thread_count = threads;
    context->thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;
    if (avcodec_open2(context.get(), codec, nullptr) < 0) return {};
    return context;
}

bool Scaler::convert(const AVFrame* source, int width, int height, AVPixelFormat format,
                     std::uint8_t* into, int bytesPerRow, int flags) {
    const auto sourceFormat = static_cast<AVPixelFormat>(source->format);
    if (source->width <= 0 || source->height <= 0 || width <= 0 || height <= 0 ||
        !sws_isSupportedInput(sourceFormat)) {
        return false;
    }
    context_.reset(sws_getCachedContext(context_.release(), source->width, source->height,
                                        sourceFormat, width, height, format, flags, nullptr,
                                        nullptr, nullptr));
    if (!context_) return false;
    const AVPixFmtDescriptor* descriptor = av_pix_fmt_desc_get(sourceFormat);
    if (descriptor && !(descriptor->flags & AV_PIX_FMT_FLAG_RGB) &&
        descriptor->nb_components >= 3) {
        const int fullRange =
            source->color_range == AVCOL_RANGE_JPEG || isFullRangeFormat(sourceFormat);
        const int* coefficients = sws_getCoefficients(yuvMatrix(source));
        sws_setColorspaceDetails(context_.get(), coefficients, fullRange,
                                 sws_getCoefficients(SWS_CS_DEFAULT), 1, 0, 1 << 16, 1 << 16);
    }
    std::uint8_t* planes[4] = {into, nullptr, nullptr, nullptr};
    int strides[4] = {bytesPerRow, 0, 0, 0};
    return sws_scale(context_.get(), source->data, source->linesize, 0, source->height, planes,
                     strides) == height;
}

}  // namespace pelko::phone::linux_backend
