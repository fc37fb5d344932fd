// Bytes as text for JSON, and back: standard Base64.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace pelko::pictures {

/// `bytes` in standard Base64 (the RFC 4648 alphabet with "=" padding), without line breaks.
std::string base64(std::span<const std::uint8_t> bytes);

/// The bytes that standard Base64 `text` holds; nothing unless it is whole groups of four
/// characters of the alphabet, with "=" padding only at its end.
std::optional<std::vector<std::uint8_t>> decodeBase64(std::string_view text);

}  // namespace pelko::pictures
