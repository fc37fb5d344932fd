// App discovery and launch: turning the name the agent gives into a running app, finding
// installed bundles, opening them, and the three discovery methods.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "json-line.h"
#include "platform/platform.h"

namespace pelko::computer {

struct Computer;

/// Where installed apps are searched, in order, before the user's own Applications folder.
extern const std::vector<std::string> applicationSearchFolders;

/// The app's localized name for a message, or `fallback` ("The app", "the app") when it has
/// none.
std::string displayName(const RunningApp& app, const std::string& fallback);

/// Every running regular (Dock) app that is not terminated, in the workspace's order.
std::vector<RunningApp> runningApps(Workspace& workspace);
/// The app description: "name", "pid", "active", "hidden", and "bundleId", "path" when known.
JSON appInfo(const RunningApp& app);
/// `name` lower-cased, every ".app" removed, white space trimmed from both ends.
std::string normalized(const std::string& name);
/// The first app with exactly this bundle identifier that is not terminated.
std::optional<RunningApp> runningById(Workspace& workspace, const std::string& bundleId);
/// The running app that `name` means (identifier, display name, path, exact identifier, or the
/// installed bundle's identifier); never opens anything.
std::optional<RunningApp> findRunning(Workspace& workspace, const std::string& name);
/// Where the app that `name` means is installed, if anywhere: an existing path, a bundle
/// identifier, a bundle file named after it in the application folders, or an installed app
/// whose file is named otherwise (a desktop entry) and that goes by that name.
std::optional<std::string> installedURL(Workspace& workspace, const std::string& name);
/// The running app that `name` means, opening it in the background when `launch` allows and
/// waiting for it (up to 20 s) and for its first window (up to 24 × 0.25 s). Throws
/// "not-running" or "no-app" failures.
RunningApp resolveApp(Platform& platform, const std::string& name, bool launch);
/// Throws the "accessibility" failure when the process is not trusted.
void requireAccessibility(Accessibility& ax);

/// The "listApps", "find" and "resolve" methods.
JSON listApps(Computer& computer, const JSON& params);
JSON find(Computer& computer, const JSON& params);
JSON resolve(Computer& computer, const JSON& params);

}  // namespace pelko::computer
