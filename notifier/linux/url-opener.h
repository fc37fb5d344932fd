// Opening a URL with the desktop's opener, without waiting for it.
#pragma once

#include <string>

namespace pelko::notifier {

/// The program that opens URLs: the value of PELKO_NOTIFIER_OPENER when it is set and not
/// empty (tests put a recording script there), else the desktop's "xdg-open".
std::string urlOpener(const char* openerVariable);

/// Starts `program` with the single argument `argument` and does not wait for it: the program
/// runs detached in a session of its own (a grandchild that the system reaps), with standard
/// input and output on the null device. `program` without a slash is looked up in PATH. False
/// when it cannot be found or started.
bool startDetached(const std::string& program, const std::string& argument);

}  // namespace pelko::notifier
