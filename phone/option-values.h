// Reading the values of command-line options.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace pelko::phone {

/// A decimal integer in the whole of `text`: an optional sign, then digits only; nothing when
/// it is not one or does not fit in 64 bits.
std::optional<std::int64_t> parseInteger(const std::string& text);

/// A floating-point number in the whole of `text` as the standard text-to-double conversion
/// reads it ("1e3", "inf" and "nan" included), without the leading white space that conversion
/// would skip; nothing when anything is left over.
std::optional<double> parseDouble(const std::string& text);

}  // namespace pelko::phone
