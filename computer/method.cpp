#include "method.h"

#include <cmath>
#include <limits>

namespace pelko::computer {

template <>
std::optional<std::string> param(const JSON& params, std::string_view key) {
    const auto found = params.find(key);
    if (found == params.end() || !found->is_string()) return std::nullopt;
    return found->get<std::string>();
}

template <>
std::optional<bool> param(const JSON& params, std::string_view key) {
    const auto found = params.find(key);
    if (found == params.end() || !found->is_boolean()) return std::nullopt;
    return found->get<bool>();
}

template <>
std::optional<std::vector<std::string>> param(const JSON& params, std::string_view key) {
    const auto found = params.find(key);
    if (found == params.end() || !found->is_array()) return std::nullopt;
    std::vector<std::string> texts;
    for (const auto& item : *found) {
        if (!item.is_string()) return std::nullopt;
        texts.push_back(item.get<std::string>());
    }
    return texts;
}

std::optional<int64_t> intParam(const JSON& params, std::string_view key) {
    const auto found = params.find(key);
    if (found == params.end()) return std::nullopt;
    const JSON& value = *found;
    if (value.is_boolean()) return value.get<bool>() ? 1 : 0;
    if (value.is_number_integer() && !value.is_number_unsigned()) return value.get<int64_t>();
    if (value.is_number_unsigned()) {
        const uint64_t big = value.get<uint64_t>();
        constexpr auto most = std::numeric_limits<int64_t>::max();
        return big > static_cast<uint64_t>(most) ? most : static_cast<int64_t>(big);
    }
    if (value.is_number_float()) {
        // Converting a double outside the integer range is undefined; hold it at the ends.
        const double truncated = std::trunc(value.get<double>());
        if (truncated >= 9223372036854775807.0) return std::numeric_limits<int64_t>::max();
        if (truncated <= -9223372036854775808.0) return std::numeric_limits<int64_t>::min();
        return static_cast<int64_t>(truncated);
    }
    return std::nullopt;
}

std::optional<double> doubleParam(const JSON& params, std::string_view key) {
    const auto found = params.find(key);
    if (found == params.end() || !found->is_number()) return std::nullopt;
    return found->get<double>();
}

}  // namespace pelko::computer
