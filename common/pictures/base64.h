// Bytes as text for JSON: standard Base64.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace pelko::pictures {

/// `bytes` in standard Base64 (the RFC 4648 alphabet with "=" padding), without line breaks.
std::string base64(std::span<const std::uint8_t> bytes);

}  // namespace pelko::pictures
