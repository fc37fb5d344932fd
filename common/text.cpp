#include "text.h"

#include <utf8proc.h>

#include "utf8.h"

namespace pelko {
namespace {

bool isWhitespace(const CodePoint& codePoint) {
    const char32_t c = codePoint.value;
    if (!codePoint.valid) return false;
    if (c == ' ' || (c >= '\t' && c <= '\r') || c == 0x85) return true;
    const auto category = utf8proc_category(static_cast<utf8proc_int32_t>(c));
    return category == UTF8PROC_CATEGORY_ZS || category == UTF8PROC_CATEGORY_ZL ||
           category == UTF8PROC_CATEGORY_ZP;
}

}  // namespace

std::string lowerCased(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const CodePoint& codePoint : CodePoints(text)) {
        if (codePoint.valid)
            appendUTF8(out, static_cast<char32_t>(
                                utf8proc_tolower(static_cast<utf8proc_int32_t>(codePoint.value))));
        else
            out.append(text.substr(codePoint.offset, codePoint.length));
    }
    return out;
}

std::string trimmedWhitespace(std::string_view text) {
    size_t begin = std::string_view::npos, end = 0;
    for (const CodePoint& codePoint : CodePoints(text)) {
        if (isWhitespace(codePoint)) continue;
        if (begin == std::string_view::npos) begin = codePoint.offset;
        end = codePoint.offset + codePoint.length;
    }
    if (begin == std::string_view::npos) return "";
    return std::string(text.substr(begin, end - begin));
}

std::string trimmedBlanks(std::string_view text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) return {};
    const auto last = text.find_last_not_of(" \t");
    return std::string(text.substr(first, last - first + 1));
}

}  // namespace pelko
