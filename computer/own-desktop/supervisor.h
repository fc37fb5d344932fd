// `pelko-computer --own-desktop`: this process starts the agent's desktop, runs the program
// again inside it (with the arguments that are not the desktop's), and stays beside it until
// the program ends, the desktop's window is closed or a signal comes; then it ends every process
// the desktop started, says why on standard error, and exits.
#pragma once

#include "command-line.h"

namespace pelko::computer::own_desktop {

/// Runs the desktop and the program in it; returns the exit status: the program's own when it
/// ended (0 at the end of its input), 0 when the window was closed, 1 when the desktop could not
/// start or its X server failed. A terminating signal ends everything and then ends this
/// process by the same signal.
int runOwnDesktop(const OwnDesktopCommand& command);

}  // namespace pelko::computer::own_desktop
