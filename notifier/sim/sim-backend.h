// The simulated backend put together: the recording window model and the table of app icons.
#pragma once

#include <memory>
#include <ostream>

#include "sim/sim-app-icons.h"
#include "sim/sim-windowing.h"

namespace pelko::notifier {

/// The seams the simulated backend provides. It has no message port: the program takes the
/// Linux one, tests a scripted one.
struct SimBackend {
    explicit SimBackend(Clock& clock) : windowing(clock) {}
    SimWindowing windowing;
    SimAppIcons appIcons;
};

/// The simulated backend of the program, on `clock` (the real one). It keeps no records in
/// memory, since a resident may live for days, and writes every log line to `log` unless
/// that is null.
std::unique_ptr<SimBackend> makeSimBackend(Clock& clock, std::ostream* log);

}  // namespace pelko::notifier
