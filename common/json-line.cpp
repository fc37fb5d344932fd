#include "json-line.h"

namespace pelko {

std::optional<std::string> compactJson(const Json& value) {
    try {
        return value.dump(-1, ' ', false, Json::error_handler_t::strict);
    } catch (const Json::exception&) {
        return std::nullopt;
    }
}

std::optional<Json> parseJson(const std::string& text) {
    Json value = Json::parse(text, nullptr, /*allow_exceptions=*/false);
    if (value.is_discarded()) return std::nullopt;
    return value;
}

}  // namespace pelko
