// A picture's "data" read back for the tests: Base64 decoded, the JPEG decompressed to RGB.
#pragma once

#include <turbojpeg.h>

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base64.h"

namespace pelko::computer::testing {

/// A decoded JPEG: its size and its pixels as red, green, blue.
struct DecodedPicture {
    int width = 0;
    int height = 0;
    std::vector<unsigned char> rgb;
    bool valid() const { return !rgb.empty(); }
    std::array<int, 3> at(int x, int y) const {
        const unsigned char* p = rgb.data() + (static_cast<size_t>(y) * width + x) * 3;
        return {p[0], p[1], p[2]};
    }
};

/// The picture that a result's "data" holds; invalid when it is no Base64 JPEG.
inline DecodedPicture decodePicture(const std::string& base64) {
    DecodedPicture picture;
    const auto jpeg = pictures::decodeBase64(base64);
    if (!jpeg || jpeg->size() < 4 || (*jpeg)[0] != 0xFF || (*jpeg)[1] != 0xD8) return picture;
    tjhandle handle = tjInitDecompress();
    int subsampling = 0, colorspace = 0;
    if (tjDecompressHeader3(handle, jpeg->data(), jpeg->size(), &picture.width, &picture.height,
                            &subsampling, &colorspace) == 0) {
        picture.rgb.resize(static_cast<size_t>(picture.width) * picture.height * 3);
        if (tjDecompress2(handle, jpeg->data(), jpeg->size(), picture.rgb.data(), picture.width, 0,
                          picture.height, TJPF_RGB, 0) != 0)
            picture.rgb.clear();
    }
    tjDestroy(handle);
    return picture;
}

}  // namespace pelko::computer::testing
