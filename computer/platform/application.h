// The seam to this process's own application object and its global event monitors.
#pragma once

#include <cstdint>
#include <functional>

namespace pelko::computer {

/// A key-down event seen by a global monitor.
struct KeyDown {
    uint16_t keyCode = 0;
    /// The source user-data field of the underlying event (the mark synthetic events carry).
    int64_t sourceUserData = 0;
};

class Application {
  public:
    virtual ~Application() = default;
    /// Gives the process the accessory activation policy: no Dock icon, no menu bar, and it
    /// never becomes the active app by itself.
    virtual void becomeAccessory() = 0;
    /// Installs a monitor that sees every key-down event going to other applications; the
    /// handler runs on the main thread. Returns false when the monitor cannot be installed.
    virtual bool addGlobalKeyDownMonitor(std::function<void(const KeyDown&)> handler) = 0;
};

}  // namespace pelko::computer
