// The workspace seam: running applications, installed bundles, opening apps and locations,
// and the few file-system questions the app search asks.
#pragma once

#include <sys/types.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "json-line.h"

namespace pelko::computer {

enum class ActivationPolicy { regular, accessory, prohibited };

/// A running application as the workspace reported it at the moment of asking.
struct RunningApp {
    pid_t pid = 0;
    std::optional<std::string> localizedName;
    std::optional<std::string> bundleId;
    std::optional<std::string> bundlePath;
    ActivationPolicy activationPolicy = ActivationPolicy::regular;
    bool active = false;
    bool hidden = false;
    bool terminated = false;
};

/// An application bundle on disk: its identifier and information dictionary.
struct BundleDescription {
    std::optional<std::string> identifier;
    /// The information dictionary, its values as JSON (strings, numbers, lists ...).
    JSON info = JSON::object();
};

/// An installed application with the names a person would call it by and its location.
struct InstalledApp {
    /// Best first, the same kinds in the same places for every app (for example the display
    /// name, the localized name, the identifier, the program's name); "" where an app has none.
    std::vector<std::string> names;
    std::string location;
};

class Workspace {
  public:
    virtual ~Workspace() = default;

    /// Opens a URL with its default handler; false when nothing could open it.
    virtual bool openURL(const std::string& url) = 0;

    /// Every running application of the current user, in the workspace's order.
    virtual std::vector<RunningApp> runningApplications() = 0;
    /// The running applications with exactly this bundle identifier (the platform's own
    /// comparison), terminated ones included.
    virtual std::vector<RunningApp> runningApplications(const std::string& bundleId) = 0;
    /// The frontmost application, if any.
    virtual std::optional<RunningApp> frontmostApplication() = 0;
    /// Fresh properties of a running application; nothing when no such process is known.
    virtual std::optional<RunningApp> runningApplication(pid_t pid) = 0;

    /// Where the application with this bundle identifier is installed, if the workspace knows.
    virtual std::optional<std::string> applicationLocation(const std::string& bundleId) = 0;
    /// Called once when an open completes: the app, or an error description, or neither.
    using OpenCompletion =
        std::function<void(std::optional<RunningApp> app, std::optional<std::string> error)>;
    /// Opens the application bundle at `path`; `activates` false starts it in the background.
    /// The completion comes later on another thread (or never).
    virtual void openApplication(const std::string& path, bool activates,
                                 OpenCompletion completion) = 0;
    /// The bundle at `path`; nothing when there is no bundle there.
    virtual std::optional<BundleDescription> bundleAt(const std::string& path) = 0;

    /// Installed applications whose files are not named after the app (so a search of the
    /// application folders by name cannot find them), in the platform's order; empty where
    /// every application's file carries its name.
    virtual std::vector<InstalledApp> installedApplications() = 0;

    virtual bool fileExists(const std::string& path) = 0;
    /// The entries of a folder, in listing order; nothing when it cannot be listed.
    virtual std::optional<std::vector<std::string>> listFolder(const std::string& path) = 0;
    /// The current user's home folder.
    virtual std::string homeFolder() = 0;

    /// Asks a running app to become the frontmost app (no options); false when it refused at
    /// once. It may come forward later, or never.
    virtual bool activate(pid_t pid) = 0;
    /// Unhides a hidden app; false when it could not be asked.
    virtual bool unhide(pid_t pid) = 0;
};

}  // namespace pelko::computer
