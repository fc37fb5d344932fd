// User-perceived characters: counting and cutting text by extended grapheme clusters, so that
// a flag, an emoji sequence or a letter with combining marks counts as one character.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace pelko {

/// How many extended grapheme clusters `text` (UTF-8) holds. A byte that is not part of valid
/// UTF-8 counts as a character of its own.
size_t graphemeCount(std::string_view text);

/// The first `count` extended grapheme clusters of `text`, never splitting a cluster; the whole
/// text when it has no more than `count`.
std::string_view graphemePrefix(std::string_view text, size_t count);

/// The code points of `text` in order, as `visit(codePoint, byteOffset, byteLength)`; an invalid
/// byte is reported as U+FFFD with length 1.
template <typename Visit>
void forEachCodePoint(std::string_view text, Visit&& visit);

/// Decodes the code point at `offset`; sets `length` to its byte length (1 for an invalid byte,
/// which decodes as U+FFFD).
char32_t decodeCodePoint(std::string_view text, size_t offset, size_t& length);

template <typename Visit>
void forEachCodePoint(std::string_view text, Visit&& visit) {
    for (size_t offset = 0, length = 0; offset < text.size(); offset += length) {
        const char32_t codePoint = decodeCodePoint(text, offset, length);
        visit(codePoint, offset, length);
    }
}

}  // namespace pelko
