// The interrupt and termination signals as events on the main loop.
#pragma once

#include <functional>

#include "main-loop.h"

namespace pelko::mic {

/// Switches off the default actions of SIGINT and SIGTERM and, from then on, posts `handler`
/// to `mainLoop` once for every such signal that arrives. Called once per process; the loop
/// must live as long as the process.
void watchStopSignals(MainLoop& mainLoop, std::function<void()> handler);

}  // namespace pelko::mic
