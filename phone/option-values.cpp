#include "option-values.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdlib>
#include <string_view>

namespace pelko::phone {

std::optional<std::int64_t> parseInteger(const std::string& text) {
    std::string_view digits = text;
    if (!digits.empty() && digits.front() == '+') digits.remove_prefix(1);
    if (digits.empty()) return {};
    std::string_view unsignedPart = digits.front() == '-' ? digits.substr(1) : digits;
    if (unsignedPart.empty() || !std::all_of(unsignedPart.begin(), unsignedPart.end(),
                                             [](unsigned char c) { return std::isdigit(c); })) {
        return {};
    }
    std::int64_t value = 0;
    auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (error != std::errc() || end != digits.data() + digits.size()) return {};
    return value;
}

std::optional<double> parseDouble(const std::string& text) {
    if (text.empty() || std::isspace(static_cast<unsigned char>(text.front()))) return {};
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (end != text.c_str() + text.size()) return {};
    return value;
}

}  // namespace pelko::phone
