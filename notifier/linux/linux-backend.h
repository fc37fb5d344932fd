// The Linux backend put together: the Unix-socket message port and the freedesktop icons.
#pragma once

#include <memory>

#include "linux/freedesktop-icons.h"
#include "linux/unix-message-port.h"

namespace pelko::notifier {

/// The seams Linux provides. A windowing seam joins them with a real window backend; until
/// then the program shows its cards on the simulated one.
struct LinuxBackend {
    UnixMessagePorts ports;
    FreedesktopAppIcons appIcons;
};

/// The Linux backend of the program.
std::unique_ptr<LinuxBackend> makeLinuxBackend();

}  // namespace pelko::notifier
