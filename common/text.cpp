#include "text.h"

#include <utf8proc.h>

namespace pelko {
namespace {

// Calls `visit(codePoint, bytes)` for each scalar of `text`; an invalid byte is passed on its
// own with code point -1.
template <typename Visit>
void forEachScalar(std::string_view text, Visit visit) {
    const auto* bytes = reinterpret_cast<const utf8proc_uint8_t*>(text.data());
    for (size_t at = 0; at < text.size();) {
        utf8proc_int32_t codePoint;
        auto length = utf8proc_iterate(bytes + at, static_cast<utf8proc_ssize_t>(text.size() - at),
                                       &codePoint);
        if (length <= 0) {
            length = 1;
            codePoint = -1;
        }
        visit(codePoint, text.substr(at, static_cast<size_t>(length)));
        at += static_cast<size_t>(length);
    }
}

bool isWhitespace(utf8proc_int32_t c) {
    if (c == ' ' || (c >= '\t' && c <= '\r') || c == 0x85) return true;
    if (c < 0) return false;
    const auto category = utf8proc_category(c);
    return category == UTF8PROC_CATEGORY_ZS || category == UTF8PROC_CATEGORY_ZL ||
           category == UTF8PROC_CATEGORY_ZP;
}

}  // namespace

std::string lowerCased(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    forEachScalar(text, [&](utf8proc_int32_t codePoint, std::string_view bytes) {
        if (codePoint < 0) {
            out.append(bytes);
            return;
        }
        utf8proc_uint8_t encoded[4];
        const auto length = utf8proc_encode_char(utf8proc_tolower(codePoint), encoded);
        out.append(reinterpret_cast<const char*>(encoded), static_cast<size_t>(length));
    });
    return out;
}

std::string trimmedWhitespace(std::string_view text) {
    size_t begin = std::string_view::npos, end = 0, at = 0;
    forEachScalar(text, [&](utf8proc_int32_t codePoint, std::string_view bytes) {
        if (!isWhitespace(codePoint)) {
            if (begin == std::string_view::npos) begin = at;
            end = at + bytes.size();
        }
        at += bytes.size();
    });
    if (begin == std::string_view::npos) return "";
    return std::string(text.substr(begin, end - begin));
}

}  // namespace pelko
