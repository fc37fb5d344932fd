// The application seam on X11: there is no Dock to stay out of, and the global key monitor is
// a thread that reads XInput2 raw key presses on the root window (they arrive whichever window
// has the focus, even during grabs) and hands each to the main loop. A press that this process
// posted itself is recognised through the record of posted keys and reported with the mark it
// was posted with.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "fd.h"
#include "key-mapping.h"
#include "main-loop.h"
#include "platform/application.h"
#include "x11-desktop.h"

namespace pelko::computer::linux_desktop {

class LinuxApplication final : public Application {
  public:
    LinuxApplication(MainLoop& mainLoop, PostedKeys& posted);
    /// Stops the monitor's thread.
    ~LinuxApplication() override;

    void becomeAccessory() override {}
    /// Starts the monitor on a connection of its own; false when the display has no XInput2
    /// (2.1 or later, for raw events) or cannot be opened.
    bool addGlobalKeyDownMonitor(std::function<void(const KeyDown&)> handler) override;

  private:
    void readEvents(Display* display, int opcode);
    MainLoop& mainLoop_;
    PostedKeys& posted_;
    std::mutex mutex_;
    std::vector<std::function<void(const KeyDown&)>> handlers_;
    DisplayPtr display_;
    Pipe wake_;
    std::thread thread_;
};

}  // namespace pelko::computer::linux_desktop
