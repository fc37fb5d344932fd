#include "sim/sim-backend.h"

namespace pelko::notifier {

std::unique_ptr<SimBackend> makeSimBackend(Clock& clock, std::ostream* log) {
    auto backend = std::make_unique<SimBackend>(clock);
    backend->windowing.keepRecords(false);
    backend->windowing.mirrorLog(log);
    return backend;
}

}  // namespace pelko::notifier
