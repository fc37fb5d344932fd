// The simulated desktop's application seam: the activation policy and the global key monitors,
// which see key presses on the main loop when one is given, as on the platform.
#include "sim-desktop.h"

namespace pelko::computer::sim {

void SimDesktop::becomeAccessory() {
    log_.record("becomeAccessory");
}

bool SimDesktop::addGlobalKeyDownMonitor(std::function<void(const KeyDown&)> handler) {
    std::lock_guard lock(mutex_);
    keyMonitors_.push_back(std::move(handler));
    return true;
}

void SimDesktop::deliverKeyMonitorsOn(MainLoop& loop) {
    std::lock_guard lock(mutex_);
    monitorLoop_ = &loop;
}

void SimDesktop::deliverKey(const KeyDown& key, std::vector<std::function<void()>>& after) {
    for (const auto& monitor : keyMonitors_) {
        if (monitorLoop_)
            after.push_back([loop = monitorLoop_, monitor, key] {
                loop->post([monitor, key] { monitor(key); });
            });
        else
            after.push_back([monitor, key] { monitor(key); });
    }
}

}  // namespace pelko::computer::sim
