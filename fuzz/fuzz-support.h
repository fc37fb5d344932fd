// What the fuzz targets share: how a broken property is reported, and inputs made of parts.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace pelko::fuzzing {

/// Reports that a property of `target` did not hold, with what showed it, and aborts so that
/// libFuzzer keeps the input.
[[noreturn]] inline void fault(const char* target, const std::string& what,
                               const std::string& detail) {
    std::fprintf(stderr, "%s fuzz: %s\n  %s\n", target, what.c_str(), detail.c_str());
    std::abort();
}

/// The parts of `input` between NUL bytes (the whole input when it holds none).
inline std::vector<std::string> splitAtNul(std::string_view input) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        const size_t end = input.find('\0', start);
        parts.emplace_back(input.substr(start, end - start));
        if (end == std::string_view::npos) break;
        start = end + 1;
    }
    return parts;
}

}  // namespace pelko::fuzzing
