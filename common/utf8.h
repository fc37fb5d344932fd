// UTF-8 text helpers shared by the programs.
#pragma once

#include <string>
#include <string_view>

namespace pelko {

/// `text` with every byte sequence that is not valid UTF-8 replaced by U+FFFD, one
/// replacement for each maximal invalid subpart (the usual "substitution of maximal subparts").
std::string repairUTF8(std::string_view text);

/// Whether `text` is entirely valid UTF-8.
bool isValidUTF8(std::string_view text);

}  // namespace pelko
