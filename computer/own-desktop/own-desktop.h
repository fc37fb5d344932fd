// The agent's own desktop: a nested X server shown as a window on the user's display (Xephyr,
// resizeable, its screen following the window's size through RandR) or a headless one (Xvfb),
// a session bus, the accessibility bus with its registry, and a light window manager. Started in
// that order; ended in the reverse, after everything started inside it (apps, services).
#pragma once

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "clock.h"
#include "command-line.h"
#include "processes.h"

struct xcb_connection_t;

namespace pelko::computer::own_desktop {

/// The title of the desktop's window.
extern const char* const desktopWindowTitle;

/// The X server's command line: Xephyr as a resizeable window on the user's display, or Xvfb
/// when headless; both write their display number to descriptor 3 once they take clients.
std::vector<std::string> xServerArguments(const OwnDesktopOptions& options);

/// The environment of the programs inside the desktop, made from the user's: their display and
/// session bus are the desktop's, the accessibility bus is found through that session bus, and
/// toolkits that would rather talk to the user's Wayland compositor are sent to X11. The user's
/// HOME, language and the rest are kept.
Environment desktopEnvironment(const Environment& user, const std::string& display,
                               const std::string& sessionBus);

/// A folder of the desktop's own (its bus socket, the parts' logs), removed with all it holds.
class PrivateFolder {
  public:
    /// Made in `parent`; throws `StartFailure` when it cannot be.
    explicit PrivateFolder(const std::filesystem::path& parent);
    ~PrivateFolder();
    PrivateFolder(const PrivateFolder&) = delete;
    PrivateFolder& operator=(const PrivateFolder&) = delete;
    const std::filesystem::path& path() const { return path_; }

  private:
    std::filesystem::path path_;
};

class OwnDesktop {
  public:
    /// Starts the desktop for a user whose environment is `user`. Throws `StartFailure` naming
    /// the part that did not start (what started is ended again). `clock` must outlive it.
    static std::unique_ptr<OwnDesktop> start(const OwnDesktopOptions& options,
                                             const Environment& user, Clock& clock);
    ~OwnDesktop();
    OwnDesktop(const OwnDesktop&) = delete;
    OwnDesktop& operator=(const OwnDesktop&) = delete;

    /// The desktop's X display, as in ":5".
    const std::string& display() const { return display_; }
    /// The environment of programs run inside it.
    const Environment& environment() const { return environment_; }
    /// The X server; it ends when its window is closed.
    OwnedProcess& xServer() { return parts_.front(); }
    /// A descriptor that becomes readable when the X server goes away: a connection of this
    /// process to it (on which little else arrives; `xServerGone` reads it).
    int watchDescriptor() const;
    /// Whether the X server has closed the connection behind `watchDescriptor`.
    bool xServerGone();
    /// Ends every process started inside the desktop (apps, services the buses started), then
    /// the window manager, the accessibility bus, the session bus and the X server, and removes
    /// the desktop's folder. Each is asked to end (SIGTERM) and killed when it has not after
    /// two seconds. Also done when the desktop is destroyed.
    void end();

  private:
    OwnDesktop(Clock& clock, const std::filesystem::path& folderParent);
    /// The accessibility sockets of GTK apps in the runtime folder of the programs inside.
    std::set<std::filesystem::path> accessibilitySockets() const;
    void removeStaleSockets();
    void removeServerLeftovers();
    Clock& clock_;
    PrivateFolder folder_;
    std::string display_;
    Environment environment_;
    /// In the order started: the X server first.
    std::vector<OwnedProcess> parts_;
    xcb_connection_t* connection_ = nullptr;
    std::set<std::filesystem::path> socketsAtStart_;
    bool ended_ = false;
};

}  // namespace pelko::computer::own_desktop
