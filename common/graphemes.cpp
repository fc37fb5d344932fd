#include "graphemes.h"

#include <utf8proc.h>

namespace pelko {
namespace {

// Walks the cluster boundaries of `text`, stopping after `limit` clusters; returns the number of
// clusters seen and sets `end` to the byte offset where the last one seen ends.
size_t scanClusters(std::string_view text, size_t limit, size_t& end) {
    size_t clusters = 0;
    end = 0;
    utf8proc_int32_t state = 0;
    char32_t previous = 0;
    bool first = true;
    for (size_t offset = 0, length = 0; offset < text.size(); offset += length) {
        const char32_t codePoint = decodeCodePoint(text, offset, length);
        const bool startsCluster = first || utf8proc_grapheme_break_stateful(
                                                static_cast<utf8proc_int32_t>(previous),
                                                static_cast<utf8proc_int32_t>(codePoint), &state);
        if (startsCluster) {
            if (clusters == limit) return clusters;
            ++clusters;
        }
        end = offset + length;
        previous = codePoint;
        first = false;
    }
    return clusters;
}

}  // namespace

char32_t decodeCodePoint(std::string_view text, size_t offset, size_t& length) {
    utf8proc_int32_t codePoint = 0;
    const auto read =
        utf8proc_iterate(reinterpret_cast<const utf8proc_uint8_t*>(text.data()) + offset,
                         static_cast<utf8proc_ssize_t>(text.size() - offset), &codePoint);
    if (read <= 0 || codePoint < 0) {
        length = 1;
        return U'\uFFFD';
    }
    length = static_cast<size_t>(read);
    return static_cast<char32_t>(codePoint);
}

size_t graphemeCount(std::string_view text) {
    size_t end = 0;
    return scanClusters(text, static_cast<size_t>(-1), end);
}

std::string_view graphemePrefix(std::string_view text, size_t count) {
    size_t end = 0;
    scanClusters(text, count, end);
    return text.substr(0, end);
}

}  // namespace pelko
