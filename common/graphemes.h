// User-perceived characters: counting and cutting text by extended grapheme clusters, so that
// a flag, an emoji sequence or a letter with combining marks counts as one character.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace pelko {

/// How many extended grapheme clusters `text` (UTF-8) holds. A byte that is not part of valid
/// UTF-8 counts as a character of its own.
size_t graphemeCount(std::string_view text);

/// The first `count` extended grapheme clusters of `text`, never splitting a cluster; the whole
/// text when it has no more than `count`.
std::string_view graphemePrefix(std::string_view text, size_t count);

/// The byte offsets at which the extended grapheme clusters of `text` begin.
std::vector<size_t> graphemeStarts(std::string_view text);

}  // namespace pelko
