// The Linux platform's composition: preferences files under the configuration folder,
// notifications on the session bus, and the main queue of the process's MainLoop.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "linux/dbus-notification-center.h"
#include "linux/plist-preferences.h"
#include "main-loop.h"
#include "platform/dock-tile-plugin.h"

namespace pelko::docktile {

/// The main queue as tasks posted to a MainLoop.
class MainLoopQueue final : public MainQueue {
  public:
    explicit MainLoopQueue(MainLoop& loop) : loop_(loop) {}
    void async(std::function<void()> task) override { loop_.post(std::move(task)); }

  private:
    MainLoop& loop_;
};

struct LinuxServices {
    LinuxServices(MainLoop& loop, std::optional<std::filesystem::path> configHome,
                  const std::string& busAddress)
        : preferences(std::move(configHome)),
          mainQueue(loop),
          notifications(mainQueue, busAddress) {}

    PlistPreferences preferences;
    MainLoopQueue mainQueue;
    DBusNotificationCenter notifications;

    DockTileServices services() { return {preferences, notifications, mainQueue}; }
};

/// Services for a process whose main thread runs `loop`: preferences from
/// `configHomeFromEnvironment`, notifications on the bus at `busAddress` (the session bus when
/// empty).
std::unique_ptr<LinuxServices> makeLinuxServices(MainLoop& loop,
                                                 const std::string& busAddress = {});

}  // namespace pelko::docktile
