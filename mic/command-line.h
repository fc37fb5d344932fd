// pelko-mic's command line: output-path [max-seconds].
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace pelko::mic {

/// The longest recording, in seconds, when the command line names none.
constexpr double defaultMaxSeconds = 6000;

/// `argument` as a number in the syntax of strtod in the POSIX locale ("2", "2.5", "1e3",
/// "0x1p4", "inf", "nan"), which must take up the whole argument: no white space before, no
/// characters after. Nothing when it is not such a number. The value is not checked further.
std::optional<double> parseMaxSeconds(const std::string& argument);

/// The output argument as an absolute path, relative paths taken against the current folder.
std::filesystem::path outputURL(const std::string& argument);

}  // namespace pelko::mic
