// What every method of pelko-computer needs from below the request loop: the one error value
// it throws, and the readers of its request parameters.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "json-line.h"

namespace pelko::computer {

/// The one error value of the program: a sentence for the agent and a short code word.
/// Thrown up to the request boundary and turned into an error reply there.
struct Failure {
    std::string message;
    std::string code = "failed";
};

// Parameter readers: each gives nothing when the key is missing or holds the wrong JSON type.

/// Text, flag or list of texts.
template <typename T>
std::optional<T> param(const JSON& params, std::string_view key);
template <>
std::optional<std::string> param(const JSON& params, std::string_view key);
template <>
std::optional<bool> param(const JSON& params, std::string_view key);
template <>
std::optional<std::vector<std::string>> param(const JSON& params, std::string_view key);
/// A signed 64-bit integer from any JSON number: fractions are cut toward zero, numbers beyond
/// the range are held at its ends, true and false count as 1 and 0.
std::optional<int64_t> intParam(const JSON& params, std::string_view key);
/// A 64-bit floating-point value from any JSON number.
std::optional<double> doubleParam(const JSON& params, std::string_view key);

}  // namespace pelko::computer
