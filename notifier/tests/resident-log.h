// The residents a test or benchmark caused, read from their log: each one that registered the
// port wrote "resident <pid>".
#pragma once

#include <sys/types.h>

#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace pelko::notifier::testing {

/// The process ids of the "resident <pid>" lines of `log`, in order.
inline std::vector<pid_t> residentsIn(const std::string& log) {
    std::vector<pid_t> pids;
    static const std::regex line(R"(^[0-9.]+ resident ([0-9]+)$)");
    std::istringstream lines(log);
    std::smatch match;
    for (std::string text; std::getline(lines, text);)
        if (std::regex_match(text, match, line)) pids.push_back(std::stoi(match[1]));
    return pids;
}

}  // namespace pelko::notifier::testing
