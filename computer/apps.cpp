#include "apps.h"

#include <algorithm>
#include <cctype>
#include <memory>
#include <mutex>

#include "ax-readers.h"
#include "computer.h"
#include "method.h"
#include "text.h"

namespace pelko::computer {
namespace {

std::string lower(const std::string& text) {
    return lowerCased(text);
}

bool endsWith(const std::string& text, const std::string& ending) {
    return text.size() >= ending.size() &&
           text.compare(text.size() - ending.size(), ending.size(), ending) == 0;
}

// A name that could be a bundle identifier: it has a dot and no space.
bool looksLikeIdentifier(const std::string& name) {
    return name.find('.') != std::string::npos && name.find(' ') == std::string::npos;
}

std::vector<std::string> searchFolders(Workspace& workspace) {
    std::vector<std::string> folders = applicationSearchFolders;
    folders.push_back(workspace.homeFolder() + "/Applications");
    return folders;
}

// The titles of the app's windows that are non-empty strings, in window order.
std::vector<std::string> windowTitles(Accessibility& ax, const Element& appElement) {
    std::vector<std::string> titles;
    for (const auto& window : elementList(ax, appElement, "AXWindows")) {
        if (auto title = str(ax, window, "AXTitle")) titles.push_back(*title);
    }
    return titles;
}

// What the open completion hands over to the waiting request. Shared, so that a completion
// arriving after the wait gave up writes into a cell nobody reads any more.
struct OpenCell {
    std::mutex mutex;
    std::optional<RunningApp> app;
    std::optional<std::string> error;
    Signal done;
};

}  // namespace

const std::vector<std::string> applicationSearchFolders = {
    "/Applications",
    "/System/Applications",
    "/System/Applications/Utilities",
    "/Applications/Utilities",
};

std::vector<RunningApp> runningApps(Workspace& workspace) {
    std::vector<RunningApp> apps;
    for (auto& app : workspace.runningApplications()) {
        if (app.activationPolicy == ActivationPolicy::regular && !app.terminated)
            apps.push_back(std::move(app));
    }
    return apps;
}

JSON appInfo(const RunningApp& app) {
    JSON info = {{"name", app.localizedName.value_or("")},
                 {"pid", app.pid},
                 {"active", app.active},
                 {"hidden", app.hidden}};
    if (app.bundleId) info["bundleId"] = *app.bundleId;
    if (app.bundlePath) info["path"] = *app.bundlePath;
    return info;
}

std::string normalized(const std::string& name) {
    std::string text = lower(name);
    // One pass from left to right: the letters that close up around a removed ".app" do not
    // form a new one ("..appapp" keeps ".app").
    for (size_t at = 0; (at = text.find(".app", at)) != std::string::npos;) text.erase(at, 4);
    return trimmedWhitespace(text);
}

std::optional<RunningApp> runningById(Workspace& workspace, const std::string& bundleId) {
    for (auto& app : workspace.runningApplications(bundleId)) {
        if (!app.terminated) return app;
    }
    return std::nullopt;
}

std::optional<RunningApp> findRunning(Workspace& workspace, const std::string& name) {
    const std::string key = normalized(name);
    const auto apps = runningApps(workspace);
    for (const auto& app : apps) {
        if (app.bundleId && lower(*app.bundleId) == key) return app;
    }
    for (const auto& app : apps) {
        if (normalized(app.localizedName.value_or("")) == key) return app;
    }
    if (name.starts_with("/")) {
        for (const auto& app : apps) {
            if (app.bundlePath == name) return app;
        }
    }
    // Normalizing cuts ".app" out of identifiers such as "com.example.appstore"; spelled
    // exactly, they still find their app.
    if (looksLikeIdentifier(name) && !name.starts_with("/")) {
        if (auto app = runningById(workspace, name)) return app;
    }
    // A display name that differs from the bundle's file name: go through the bundle.
    const auto location = installedURL(workspace, name);
    if (!location) return std::nullopt;
    const auto bundle = workspace.bundleAt(*location);
    if (!bundle || !bundle->identifier) return std::nullopt;
    return runningById(workspace, *bundle->identifier);
}

std::optional<std::string> installedURL(Workspace& workspace, const std::string& name) {
    if (name.starts_with("/") && workspace.fileExists(name)) return name;
    if (looksLikeIdentifier(name)) {
        if (auto location = workspace.applicationLocation(name)) return location;
    }
    const std::string fileName = endsWith(name, ".app") ? name : name + ".app";
    const auto folders = searchFolders(workspace);
    for (const auto& folder : folders) {
        if (workspace.fileExists(folder + "/" + fileName)) return folder + "/" + fileName;
    }
    const std::string key = normalized(name);
    for (const auto& folder : folders) {
        const auto entries = workspace.listFolder(folder);
        if (!entries) continue;
        for (const auto& entry : *entries) {
            if (endsWith(entry, ".app") && normalized(entry) == key) return folder + "/" + entry;
        }
    }
    return std::nullopt;
}

RunningApp resolveApp(Platform& platform, const std::string& name, bool launch) {
    Workspace& workspace = platform.workspace;
    if (auto app = findRunning(workspace, name)) return *app;
    if (!launch) {
        throw Failure{
            name + " is not open. Call get_app_state for it first (that opens it), then act.",
            "not-running"};
    }
    const auto location = installedURL(workspace, name);
    if (!location) throw Failure{"No app named " + name + " was found on this Mac.", "no-app"};

    auto cell = std::make_shared<OpenCell>();
    workspace.openApplication(
        *location, /*activates=*/false,
        [cell](std::optional<RunningApp> app, std::optional<std::string> error) {
            {
                std::lock_guard lock(cell->mutex);
                cell->app = std::move(app);
                cell->error = std::move(error);
            }
            cell->done.raise();
        });
    platform.clock.wait(cell->done, seconds(20));
    std::optional<RunningApp> app;
    std::optional<std::string> error;
    {
        std::lock_guard lock(cell->mutex);
        app = cell->app;
        error = cell->error;
    }
    if (!app) {
        throw Failure{"Could not open " + name + (error ? ": " + *error : std::string()) + ".",
                      "no-app"};
    }
    // Wait for a first window, but not forever: an app that shows none is still open.
    const Element appElement = platform.accessibility.applicationElement(app->pid);
    for (int attempt = 0; attempt < 24; ++attempt) {
        const auto windows = attr(platform.accessibility, appElement, "AXWindows");
        const auto* list = windows ? windows->as<Value::List>() : nullptr;
        if (list && !list->empty()) break;
        platform.clock.sleepFor(seconds(0.25));
    }
    return *app;
}

void requireAccessibility(Accessibility& ax) {
    if (!ax.isTrusted()) {
        throw Failure{
            "Pelko is not allowed to control this Mac yet (System Settings → Privacy & "
            "Security → Accessibility).",
            "accessibility"};
    }
}

JSON listApps(Computer& computer, const JSON&) {
    Platform& platform = computer.platform;
    JSON descriptions = JSON::array();
    const auto apps = runningApps(platform.workspace);
    for (const auto& app : apps) descriptions.push_back(appInfo(app));
    if (platform.accessibility.isTrusted()) {
        for (auto& description : descriptions) {
            const Element appElement =
                platform.accessibility.applicationElement(description["pid"].get<pid_t>());
            platform.accessibility.setMessagingTimeout(appElement, 0.5);
            auto titles = windowTitles(platform.accessibility, appElement);
            if (titles.size() > 8) titles.resize(8);
            description["windows"] = titles;
        }
    }
    return {{"apps", descriptions}};
}

JSON find(Computer& computer, const JSON& params) {
    const auto name = param<std::string>(params, "app");
    if (!name) throw Failure{"Give the app's name.", "bad-input"};
    Workspace& workspace = computer.platform.workspace;
    if (auto app = findRunning(workspace, *name)) {
        JSON info = appInfo(*app);
        info["running"] = true;
        return info;
    }
    const auto location = installedURL(workspace, *name);
    if (!location) {
        throw Failure{"No app named " + *name +
                          " was found on this Mac. list_apps shows the apps that are open.",
                      "no-app"};
    }
    const auto bundle = workspace.bundleAt(*location);
    std::optional<std::string> displayName;
    if (bundle) {
        for (const char* key : {"CFBundleDisplayName", "CFBundleName"}) {
            const auto value = bundle->info.find(key);
            if (!displayName && value != bundle->info.end() && value->is_string())
                displayName = value->get<std::string>();
        }
    }
    if (!displayName) {
        std::string path = *location;
        while (path.size() > 1 && path.back() == '/') path.pop_back();
        std::string file = path.substr(path.rfind('/') + 1);
        const auto dot = file.rfind('.');
        displayName = dot == std::string::npos ? file : file.substr(0, dot);
    }
    JSON result = {{"name", *displayName}, {"path", *location}, {"running", false}};
    if (bundle && bundle->identifier) result["bundleId"] = *bundle->identifier;
    return result;
}

JSON resolve(Computer& computer, const JSON& params) {
    const auto name = param<std::string>(params, "app");
    if (!name) throw Failure{"Give the app's name.", "bad-input"};
    const bool launch = param<bool>(params, "launch").value_or(false);
    return appInfo(resolveApp(computer.platform, *name, launch));
}

}  // namespace pelko::computer
