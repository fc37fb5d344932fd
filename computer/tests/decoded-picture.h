// A picture's "data" read back for the tests: Base64 decoded, the JPEG decompressed to RGB.
#pragma once

#include <turbojpeg.h>

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace pelko::computer::testing {

/// Standard Base64 (with padding, no line breaks) back to bytes; nothing for anything else.
inline std::optional<std::vector<std::uint8_t>> decodeBase64(const std::string& text) {
    auto digit = [](char c) -> int {
        if (c >= 'A' && c <= 'Z') return c - 'A';
        if (c >= 'a' && c <= 'z') return c - 'a' + 26;
        if (c >= '0' && c <= '9') return c - '0' + 52;
        if (c == '+') return 62;
        if (c == '/') return 63;
        return -1;
    };
    if (text.size() % 4 != 0) return std::nullopt;
    std::vector<std::uint8_t> bytes;
    for (size_t i = 0; i < text.size(); i += 4) {
        const bool last = i + 4 == text.size();
        const int pads = last ? (text[i + 3] == '=') + (text[i + 2] == '=') : 0;
        unsigned value = 0;
        for (int k = 0; k < 4; ++k) {
            const int d = k >= 4 - pads ? 0 : digit(text[i + k]);
            if (d < 0) return std::nullopt;
            value = value << 6 | static_cast<unsigned>(d);
        }
        bytes.push_back(static_cast<std::uint8_t>(value >> 16));
        if (pads < 2) bytes.push_back(static_cast<std::uint8_t>(value >> 8));
        if (pads < 1) bytes.push_back(static_cast<std::uint8_t>(value));
    }
    return bytes;
}

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
    const auto jpeg = decodeBase64(base64);
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
