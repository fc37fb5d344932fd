// The quality a JPEG was written at, read back from its quantisation tables: libjpeg-turbo
// scales the same standard tables for every quality, so the tables of a file written by it
// equal those of exactly one quality. Header-only; the test program links TurboJPEG.
#pragma once

#include <turbojpeg.h>

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace pelko::testing {

/// The bodies of every DQT segment of a JPEG, in file order; empty when the markers cannot be
/// walked up to the start of the scan.
inline std::vector<std::uint8_t> quantisationTables(std::span<const std::uint8_t> jpeg) {
    std::vector<std::uint8_t> tables;
    if (jpeg.size() < 4 || jpeg[0] != 0xFF || jpeg[1] != 0xD8) return {};
    for (std::size_t at = 2; at + 4 <= jpeg.size();) {
        if (jpeg[at] != 0xFF) return {};
        const std::uint8_t marker = jpeg[at + 1];
        const std::size_t length = (std::size_t{jpeg[at + 2]} << 8) | jpeg[at + 3];
        if (length < 2 || at + 2 + length > jpeg.size()) return {};
        if (marker == 0xDB)
            tables.insert(tables.end(), jpeg.begin() + at + 4, jpeg.begin() + at + 2 + length);
        if (marker == 0xDA) return tables;  // the scan: no tables after it
        at += 2 + length;
    }
    return {};
}

/// The TurboJPEG quality (1..100) whose tables the JPEG carries; nothing when none matches.
inline std::optional<int> jpegQualityOf(std::span<const std::uint8_t> jpeg) {
    const std::vector<std::uint8_t> wanted = quantisationTables(jpeg);
    if (wanted.empty()) return std::nullopt;
    tjhandle handle = tjInitCompress();
    const std::vector<std::uint8_t> grey(16 * 16 * 3, 128);
    std::optional<int> found;
    for (int quality = 1; quality <= 100 && !found; ++quality) {
        unsigned char* out = nullptr;
        unsigned long size = 0;
        if (tjCompress2(handle, grey.data(), 16, 0, 16, TJPF_RGB, &out, &size, TJSAMP_420, quality,
                        0) == 0 &&
            quantisationTables({out, size}) == wanted)
            found = quality;
        tjFree(out);
    }
    tjDestroy(handle);
    return found;
}

}  // namespace pelko::testing
