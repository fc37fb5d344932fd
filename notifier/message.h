// The message a client hands to the resident: one compact JSON object built from the client's
// command line.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace pelko::notifier {

/// The name of the local message port that the resident registers and the client looks up.
inline constexpr const char* portName = "pelko.code.notifier";

/// The message identifier that every request from a client carries.
inline constexpr int messageIdentifier = 1;

/// The element after the first element equal to `flag`; nothing when `flag` does not occur or
/// is the last element. Every position is examined, values and command words included.
std::optional<std::string> flagValue(const std::vector<std::string>& args, const std::string& flag);

/// For every element equal to `flag` that has a successor, that successor, in order. Positions
/// taken as values are examined too: `--id --id x` yields `--id` and `x`.
std::vector<std::string> flagValues(const std::vector<std::string>& args, const std::string& flag);

/// The message bytes for a `post` or `clear` command line (program path dropped), or nothing
/// when the command word is missing or unknown, `post` lacks a value for `--id` or `--title`, or
/// the message cannot be serialised (a value that is not valid UTF-8).
std::optional<std::string> encodeCommand(const std::vector<std::string>& args);

}  // namespace pelko::notifier
