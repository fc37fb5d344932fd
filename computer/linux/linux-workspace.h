// The workspace seam on a Linux desktop: running apps are the accessibility registry's
// applications, each matched with its desktop entry (whose id is its identifier and whose file
// is its location); windows, the front app, activation and unhiding come from the window
// manager (EWMH); installed apps are the desktop entries, and opening one runs its command in
// the background, asking the window manager not to give it the focus.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "atspi-client.h"
#include "clock.h"
#include "desktop-entries.h"
#include "platform/workspace.h"
#include "x11-desktop.h"

namespace pelko::computer::linux_desktop {

class LinuxWorkspace final : public Workspace {
  public:
    LinuxWorkspace(AtspiClient& client, X11Desktop& x11, Clock& clock);
    ~LinuxWorkspace() override;

    bool openURL(const std::string& url) override;
    std::vector<RunningApp> runningApplications() override;
    std::vector<RunningApp> runningApplications(const std::string& bundleId) override;
    std::optional<RunningApp> frontmostApplication() override;
    std::optional<RunningApp> runningApplication(pid_t pid) override;
    std::optional<std::string> applicationLocation(const std::string& bundleId) override;
    void openApplication(const std::string& path, bool activates,
                         OpenCompletion completion) override;
    std::optional<BundleDescription> bundleAt(const std::string& path) override;
    std::vector<InstalledApp> installedApplications() override;
    bool fileExists(const std::string& path) override;
    std::optional<std::vector<std::string>> listFolder(const std::string& path) override;
    std::string homeFolder() override;
    bool activate(pid_t pid) override;
    bool unhide(pid_t pid) override;

  private:
    /// The installed entries, read again when an applications folder changed.
    std::vector<DesktopEntry> entries();
    /// The topmost window of `pid` that `wanted` accepts; nothing when there is none.
    std::optional<WindowInfo> topWindow(pid_t pid, bool hiddenOnly);
    void watchLaunch(pid_t child, std::string entryId, std::vector<pid_t> before,
                     uint64_t keepActive, OpenCompletion completion, std::stop_token stop);
    /// Gives the focus back to window `previous` if the new app's window takes it.
    void keepInBackground(pid_t pid, uint64_t previous, std::stop_token stop);

    AtspiClient& client_;
    X11Desktop& x11_;
    Clock& clock_;
    std::mutex entriesMutex_;
    std::vector<DesktopEntry> entries_;
    std::map<std::string, long long> folderStamps_;
    std::atomic<int> launches_{0};
    struct Watcher {
        std::shared_ptr<std::atomic<bool>> done;
        std::jthread thread;
    };
    std::mutex watchersMutex_;
    /// One thread per open in progress; asked to stop and joined when the workspace ends.
    std::vector<Watcher> watchers_;
};

/// Whether process `pid` runs (a zombie does not).
bool processRuns(pid_t pid);

/// Starts `arguments` detached from this process (a session of its own, standard streams on
/// /dev/null) with `extraEnvironment` added; returns its process id, or the error text.
struct Spawned {
    pid_t pid = 0;
    std::string error;
};
Spawned spawnDetached(const std::vector<std::string>& arguments,
                      const std::vector<std::string>& extraEnvironment,
                      const std::string& workingDirectory);

}  // namespace pelko::computer::linux_desktop
