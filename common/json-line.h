// JSON lines: one compact JSON object of valid UTF-8 text, then a line feed.
#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <string>

namespace pelko {

using JSON = nlohmann::json;

/// The compact text of `value` (no white space), or nothing when it cannot be serialised,
/// for example because a string in it is not valid UTF-8.
std::optional<std::string> compactJSON(const JSON& value);

/// Parses `text` as JSON; nothing when it is not JSON or nests arrays and objects deeper than
/// 512 levels (deeper values would exhaust the stack when copied or written).
std::optional<JSON> parseJSON(const std::string& text);

}  // namespace pelko
