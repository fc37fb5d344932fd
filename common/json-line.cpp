#include "json-line.h"

namespace pelko {

std::optional<std::string> compactJSON(const JSON& value) {
    try {
        return value.dump(-1, ' ', false, JSON::error_handler_t::strict);
    } catch (const JSON::exception&) {
        return std::nullopt;
    }
}

namespace {

constexpr int maxNesting = 512;

// Whether arrays and objects open deeper than `maxNesting` anywhere outside strings.
bool nestsTooDeep(const std::string& text) {
    int depth = 0;
    bool inString = false, escaped = false;
    for (const char c : text) {
        if (inString) {
            if (escaped)
                escaped = false;
            else if (c == '\\')
                escaped = true;
            else if (c == '"')
                inString = false;
        } else if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            if (++depth > maxNesting) return true;
        } else if (c == ']' || c == '}') {
            --depth;
        }
    }
    return false;
}

}  // namespace

std::optional<JSON> parseJSON(const std::string& text) {
    if (nestsTooDeep(text)) return std::nullopt;
    JSON value = JSON::parse(text, nullptr, /*allow_exceptions=*/false);
    if (value.is_discarded()) return std::nullopt;
    return value;
}

}  // namespace pelko
