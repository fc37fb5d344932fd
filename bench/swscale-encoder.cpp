#include "swscale-encoder.h"

#include <turbojpeg.h>

#include <algorithm>
#include <cmath>

extern "C" {
#include <libavutil/pixfmt.h>
#include <libswscale/swscale.h>
}

namespace pelko::bench {

void SwscaleEncoder::SwsFree::operator()(SwsContext* context) const {
    sws_freeContext(context);
}
void SwscaleEncoder::TurboFree::operator()(void* handle) const {
    tjDestroy(handle);
}

SwscaleEncoder::SwscaleEncoder() : compressor_(tjInitCompress()) {}

SwscaleEncoder::~SwscaleEncoder() = default;

std::optional<std::vector<std::uint8_t>> SwscaleEncoder::encode(const std::uint8_t* bgra,
                                                                int sourceWidth, int sourceHeight,
                                                                int bytesPerRow, int width,
                                                                int height, double quality) {
    if (!compressor_ || !bgra || sourceWidth <= 0 || sourceHeight <= 0) return {};
    if (width < 2 || height < 2 || width % 2 || height % 2) return {};

    // One pass from BGRA straight to the full-range 4:2:0 planes that a JPEG stores, so the
    // encoder does no colour conversion of its own.
    SwsContext* scaler =
        sws_getCachedContext(scaler_.release(), sourceWidth, sourceHeight, AV_PIX_FMT_BGRA, width,
                             height, AV_PIX_FMT_YUV420P, SWS_BILINEAR, nullptr, nullptr, nullptr);
    scaler_.reset(scaler);
    if (!scaler) return {};
    // A new size gives a new scaler in limited range. It is recognised by its range, not by its
    // address: the new one is often allocated where the old one was freed.
    int *inverseTable = nullptr, *table = nullptr;
    int sourceRange = 0, outputRange = 0, brightness = 0, contrast = 0, saturation = 0;
    if (sws_getColorspaceDetails(scaler, &inverseTable, &sourceRange, &table, &outputRange,
                                 &brightness, &contrast, &saturation) < 0 ||
        outputRange != 1) {
        const int* bt601 = sws_getCoefficients(SWS_CS_ITU601);
        sws_setColorspaceDetails(scaler, bt601, 1, bt601, 1, 0, 1 << 16, 1 << 16);
    }

    const std::size_t lumaSize = static_cast<std::size_t>(width) * height;
    const std::size_t chromaSize = lumaSize / 4;
    planes_.resize(lumaSize + 2 * chromaSize);
    std::uint8_t* planes[3] = {planes_.data(), planes_.data() + lumaSize,
                               planes_.data() + lumaSize + chromaSize};
    int strides[3] = {width, width / 2, width / 2};
    const std::uint8_t* source[1] = {bgra};
    const int sourceStride[1] = {bytesPerRow};
    if (sws_scale(scaler, source, sourceStride, 0, sourceHeight, planes, strides) != height) {
        return {};
    }

    const int jpegQuality = std::clamp(static_cast<int>(std::lround(quality * 100)), 1, 100);
    unsigned char* jpeg = nullptr;
    unsigned long jpegSize = 0;
    const unsigned char* constPlanes[3] = {planes[0], planes[1], planes[2]};
    const int failed =
        tjCompressFromYUVPlanes(compressor_.get(), constPlanes, width, strides, height, TJSAMP_420,
                                &jpeg, &jpegSize, jpegQuality, 0);
    std::unique_ptr<unsigned char, void (*)(unsigned char*)> owned(jpeg, tjFree);
    if (failed || !jpeg) return {};
    return std::vector<std::uint8_t>(jpeg, jpeg + jpegSize);
}

}  // namespace pelko::bench
