// The simulated desktop's screen-capture permission: as the scene sets it, and what its prompt
// grants.
#include "sim-desktop.h"

namespace pelko::computer::sim {

bool SimDesktop::preflight() {
    std::lock_guard lock(mutex_);
    return screenCapture_;
}

bool SimDesktop::request() {
    std::lock_guard lock(mutex_);
    log_.record("screenCapturePrompt", {{"granted", screenCapturePromptGrants_}});
    screenCapture_ = screenCapture_ || screenCapturePromptGrants_;
    return screenCapture_;
}

}  // namespace pelko::computer::sim
