// The `copy-png` command: a picture file put on the pasteboard as PNG and TIFF.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace pelko::phone {

/// Whether `bytes` begin with the 8-byte PNG signature.
bool hasPNGSignature(const std::vector<std::uint8_t>& bytes);

/// The types the pasteboard receives, in the order they are declared.
inline constexpr const char* pngPasteboardType = "image/png";
inline constexpr const char* tiffPasteboardType = "image/tiff";

/// The `copy-png` command for the picture at `path`, which must be absolute: the pasteboard
/// receives the file's own bytes when it is a PNG (a converted PNG otherwise) and a TIFF
/// rendition. Exits 0, or logs why not and exits 1.
void runCopyPNG(Platform& platform, const std::string& path);

}  // namespace pelko::phone
