// Unicode-aware text helpers for comparing names the way people write them.
#pragma once

#include <string>
#include <string_view>

namespace pelko {

/// `text` with every letter lower-cased (full Unicode simple case mapping); invalid UTF-8 is
/// kept as it is.
std::string lowerCased(std::string_view text);

/// `text` without white space and line breaks (Unicode separators and the ASCII and Latin-1
/// spacing controls) at either end.
std::string trimmedWhitespace(std::string_view text);

/// `text` without spaces and tabs at either end.
std::string trimmedBlanks(std::string_view text);

}  // namespace pelko
