#include "jpeg-encoder.h"

#include <libyuv/convert_from_argb.h>
#include <libyuv/scale.h>
#include <libyuv/scale_argb.h>
#include <turbojpeg.h>

#include <algorithm>
#include <cmath>

namespace pelko::pictures {

namespace {

/// The largest side libjpeg accepts.
constexpr int maxSide = 65500;

bool validSize(int width, int height) {
    return width > 0 && height > 0 && width <= maxSide && height <= maxSide;
}

}  // namespace

int jpegQuality(double quality) {
    if (std::isnan(quality)) return 1;
    return static_cast<int>(std::clamp(std::round(quality * 100), 1.0, 100.0));
}

void JPEGEncoder::TurboFree::operator()(void* handle) const {
    tjDestroy(handle);
}
void JPEGEncoder::BufferFree::operator()(unsigned char* buffer) const {
    tjFree(buffer);
}

JPEGEncoder::JPEGEncoder() : compressor_(tjInitCompress()) {}

JPEGEncoder::~JPEGEncoder() = default;

std::optional<std::vector<std::uint8_t>> JPEGEncoder::encode(const Pixels& picture, int width,
                                                             int height, double quality,
                                                             Shrinking shrinking) {
    if (!compressor_ || !picture.data || !validSize(picture.width, picture.height) ||
        !validSize(width, height) || picture.bytesPerRow / 4 < picture.width) {
        return {};
    }

    const int chromaWidth = (width + 1) / 2, chromaHeight = (height + 1) / 2;
    const std::size_t lumaSize = static_cast<std::size_t>(width) * height;
    const std::size_t chromaSize = static_cast<std::size_t>(chromaWidth) * chromaHeight;
    planes_.resize(lumaSize + 2 * chromaSize);
    std::uint8_t* const planes[3] = {planes_.data(), planes_.data() + lumaSize,
                                     planes_.data() + lumaSize + chromaSize};
    const int strides[3] = {width, chromaWidth, chromaWidth};
    // Full-range BT.601 (the "J" conversions): the values a JPEG's YCbCr means, so black and
    // white stay 0 and 255.
    const auto toPlanes =
        picture.order == PixelOrder::bgra ? libyuv::ARGBToJ420 : libyuv::ABGRToJ420;

    const bool sameSize = width == picture.width && height == picture.height;
    const bool halvesOrMore = picture.width >= 2 * width && picture.height >= 2 * height;
    // libyuv's bitmap scaler averages whole boxes only at exactly a half or a quarter; at other
    // factors of two or more it samples a few pixels and text shimmers. Its plane scaler
    // averages boxes at every factor, at the price of converting the full-size picture first.
    const bool exactBox = (picture.width == 2 * width && picture.height == 2 * height) ||
                          (picture.width == 4 * width && picture.height == 4 * height);
    if (sameSize) {
        if (toPlanes(picture.data, picture.bytesPerRow, planes[0], strides[0], planes[1],
                     strides[1], planes[2], strides[2], width, height) != 0) {
            return {};
        }
    } else if (shrinking == Shrinking::sharp && width <= picture.width &&
               height <= picture.height) {
        // Readers of text see the brightness: it is filtered sharply. The colour, kept at half
        // the resolution in the JPEG anyway, is averaged in boxes. Reading the big bitmap
        // costs more than converting it, so it is read once, a pair of rows at a time just
        // ahead of the filter: the brightness goes into a ring of rows that stays in the
        // cache, the colour into planes at half the size.
        const int fullChromaWidth = (picture.width + 1) / 2,
                  fullChromaHeight = (picture.height + 1) / 2;
        const std::size_t fullChroma = static_cast<std::size_t>(fullChromaWidth) * fullChromaHeight;
        full_.resize(2 * fullChroma);
        std::uint8_t* const fullU = full_.data();
        std::uint8_t* const fullV = full_.data() + fullChroma;
        int converted = 0, ringRows = 0;
        bool failed = false;
        const auto convertPair = [&] {
            const int rows = std::min(2, picture.height - converted);
            const std::size_t chromaRow = static_cast<std::size_t>(converted / 2) * fullChromaWidth;
            failed |=
                toPlanes(
                    picture.data + static_cast<std::size_t>(converted) * picture.bytesPerRow,
                    picture.bytesPerRow,
                    ring_.data() + static_cast<std::size_t>(converted % ringRows) * picture.width,
                    picture.width, fullU + chromaRow, fullChromaWidth, fullV + chromaRow,
                    fullChromaWidth, picture.width, rows) != 0;
            converted += rows;
        };
        const auto rowsFor = [&](int first, int count, const std::uint8_t** rows) {
            if (ringRows == 0) {
                // Room for the rows one output reads and the pair converted past them; even,
                // so that a pair's two rows lie next to each other.
                ringRows = std::min((count + 2) / 2 * 2, (picture.height + 1) / 2 * 2);
                ring_.resize(static_cast<std::size_t>(ringRows) * picture.width);
            }
            while (converted < first + count) convertPair();
            for (int k = 0; k < count; ++k)
                rows[k] =
                    ring_.data() + static_cast<std::size_t>((first + k) % ringRows) * picture.width;
        };
        if (!sharp_.scale(rowsFor, picture.width, picture.height, planes[0], strides[0], width,
                          height)) {
            return {};
        }
        while (converted < picture.height) convertPair();
        if (failed) return {};
        for (int plane : {1, 2}) {
            libyuv::ScalePlane(plane == 1 ? fullU : fullV, fullChromaWidth, fullChromaWidth,
                               fullChromaHeight, planes[plane], strides[plane], chromaWidth,
                               chromaHeight, libyuv::kFilterBox);
        }
    } else if (halvesOrMore && !exactBox) {
        const int fullChromaWidth = (picture.width + 1) / 2;
        const std::size_t fullLuma = static_cast<std::size_t>(picture.width) * picture.height;
        const std::size_t fullChroma =
            static_cast<std::size_t>(fullChromaWidth) * ((picture.height + 1) / 2);
        full_.resize(fullLuma + 2 * fullChroma);
        std::uint8_t* const full[3] = {full_.data(), full_.data() + fullLuma,
                                       full_.data() + fullLuma + fullChroma};
        if (toPlanes(picture.data, picture.bytesPerRow, full[0], picture.width, full[1],
                     fullChromaWidth, full[2], fullChromaWidth, picture.width,
                     picture.height) != 0 ||
            libyuv::I420Scale(full[0], picture.width, full[1], fullChromaWidth, full[2],
                              fullChromaWidth, picture.width, picture.height, planes[0], strides[0],
                              planes[1], strides[1], planes[2], strides[2], width, height,
                              libyuv::kFilterBox) != 0) {
            return {};
        }
    } else {
        // Scale in the picture's own byte order (the scaler treats the four bytes alike), then
        // convert the small picture once.
        scaled_.resize(lumaSize * 4);
        const std::uint8_t* source = picture.data;
        int sourceStride = picture.bytesPerRow, sourceWidth = picture.width,
            sourceHeight = picture.height;
        // Shrinking by less than two but more than a third: bilinear taps two source pixels
        // and skips the rest, so fine text aliases. Halving first by exact box averages,
        // then stretching the little that is left, keeps every source pixel in the picture.
        if (!exactBox && 2 * picture.width >= 3 * width && 2 * picture.height >= 3 * height) {
            sourceWidth = picture.width / 2;
            sourceHeight = picture.height / 2;
            sourceStride = sourceWidth * 4;
            halved_.resize(static_cast<std::size_t>(sourceStride) * sourceHeight);
            if (libyuv::ARGBScale(picture.data, picture.bytesPerRow, sourceWidth * 2,
                                  sourceHeight * 2, halved_.data(), sourceStride, sourceWidth,
                                  sourceHeight, libyuv::kFilterBox) != 0) {
                return {};
            }
            source = halved_.data();
        }
        if (libyuv::ARGBScale(source, sourceStride, sourceWidth, sourceHeight, scaled_.data(),
                              width * 4, width, height,
                              exactBox ? libyuv::kFilterBox : libyuv::kFilterBilinear) != 0 ||
            toPlanes(scaled_.data(), width * 4, planes[0], strides[0], planes[1], strides[1],
                     planes[2], strides[2], width, height) != 0) {
            return {};
        }
    }

    // One output buffer large enough for any JPEG of this size, kept for the next picture.
    const unsigned long capacity = tjBufSize(width, height, TJSAMP_420);
    if (capacity == static_cast<unsigned long>(-1)) return {};
    if (!jpeg_ || capacity > jpegCapacity_) {
        jpeg_.reset(tjAlloc(static_cast<int>(capacity)));
        jpegCapacity_ = jpeg_ ? capacity : 0;
        if (!jpeg_) return {};
    }
    unsigned char* jpeg = jpeg_.get();
    unsigned long jpegSize = jpegCapacity_;
    const unsigned char* constPlanes[3] = {planes[0], planes[1], planes[2]};
    if (tjCompressFromYUVPlanes(compressor_.get(), constPlanes, width, strides, height, TJSAMP_420,
                                &jpeg, &jpegSize, jpegQuality(quality), TJFLAG_NOREALLOC) != 0 ||
        jpeg != jpeg_.get()) {
        return {};
    }
    return std::vector<std::uint8_t>(jpeg, jpeg + jpegSize);
}

}  // namespace pelko::pictures
