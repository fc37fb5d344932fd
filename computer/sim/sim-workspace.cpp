// The simulated desktop's workspace: running apps in the workspace's order, bundles in a small
// file system of folders, opening a bundle (an app launched after the scene's delay, on the
// clock), and activating and unhiding apps.
#include "sim-desktop.h"
#include "sim-scene.h"

namespace pelko::computer::sim {

bool SimDesktop::openURL(const std::string& url) {
    log_.record("openURL", {{"url", url}});
    if (openURLTime_ > Duration::zero()) clock_.sleepFor(openURLTime_);
    return true;
}

std::vector<RunningApp> SimDesktop::runningApplications() {
    std::lock_guard lock(mutex_);
    std::vector<RunningApp> apps;
    for (pid_t pid : order_) apps.push_back(apps_[pid].info);
    return apps;
}

std::vector<RunningApp> SimDesktop::runningApplications(const std::string& bundleId) {
    std::lock_guard lock(mutex_);
    std::vector<RunningApp> apps;
    for (pid_t pid : order_) {
        if (apps_[pid].info.bundleId == bundleId) apps.push_back(apps_[pid].info);
    }
    return apps;
}

std::optional<RunningApp> SimDesktop::frontmostApplication() {
    std::lock_guard lock(mutex_);
    for (pid_t pid : order_) {
        if (apps_[pid].info.active && !apps_[pid].info.terminated) return apps_[pid].info;
    }
    return std::nullopt;
}

std::optional<RunningApp> SimDesktop::runningApplication(pid_t pid) {
    std::lock_guard lock(mutex_);
    App* app = appOf(pid);
    if (!app) return std::nullopt;
    return app->info;
}

std::optional<std::string> SimDesktop::applicationLocation(const std::string& bundleId) {
    std::lock_guard lock(mutex_);
    for (const auto& bundle : bundles_) {
        if (bundle.description.identifier == bundleId) return bundle.path;
    }
    return std::nullopt;
}

void SimDesktop::openApplication(const std::string& path, bool activates,
                                 OpenCompletion completion) {
    std::unique_lock lock(mutex_);
    log_.record("openApplication", {{"path", path}, {"activates", activates}});
    const Bundle* bundle = nullptr;
    for (const auto& candidate : bundles_) {
        if (candidate.path == path) bundle = &candidate;
    }
    if (!bundle) {
        const std::string error = "The application could not be found.";
        log_.record("openFailed", {{"path", path}, {"error", error}});
        lock.unlock();
        completion(std::nullopt, error);
        return;
    }
    // An app that already runs from this bundle is simply reported.
    for (pid_t pid : order_) {
        const App& app = apps_[pid];
        if (!app.info.terminated && app.info.bundlePath == path) {
            RunningApp info = app.info;
            lock.unlock();
            completion(info, std::nullopt);
            return;
        }
    }
    const JSON launch = bundle->launch;
    if (sceneKey(launch, "never", false)) return;  // the completion never comes
    JSON entry = sceneKey(launch, "app", JSON::object());
    const auto& info = bundle->description.info;
    if (!entry.contains("name")) {
        for (const char* key : {"CFBundleDisplayName", "CFBundleName"}) {
            if (info.contains(key) && info[key].is_string() && !entry.contains("name"))
                entry["name"] = info[key];
        }
        if (!entry.contains("name")) {
            std::string file = lastComponent(path);
            entry["name"] = file.substr(0, file.rfind('.'));
        }
    }
    if (bundle->description.identifier) entry["bundleId"] = *bundle->description.identifier;
    entry["path"] = path;
    entry["active"] = activates;
    entry.erase("pid");
    const auto failure = optionalText(launch, "error");
    const Duration delay = seconds(sceneKey(launch, "seconds", 0.0));
    lock.unlock();
    clock_.schedule(delay, [this, entry, failure, path, completion = std::move(completion)] {
        if (failure) {
            log_.record("openFailed", {{"path", path}, {"error", *failure}});
            completion(std::nullopt, failure);
            return;
        }
        RunningApp info;
        {
            std::lock_guard lock(mutex_);
            const pid_t pid = nextPid_;
            addApp(entry, pid);
            info = apps_[pid].info;
            log_.record("appLaunched", {{"path", path}, {"pid", pid}});
        }
        completion(info, std::nullopt);
    });
}

std::optional<BundleDescription> SimDesktop::bundleAt(const std::string& path) {
    std::lock_guard lock(mutex_);
    for (const auto& bundle : bundles_) {
        if (bundle.path == path) return bundle.description;
    }
    return std::nullopt;
}

bool SimDesktop::fileExists(const std::string& path) {
    std::lock_guard lock(mutex_);
    if (path == "/" || folders_.count(path)) return true;
    for (const auto& bundle : bundles_) {
        if (bundle.path == path || path.rfind(bundle.path + "/", 0) == 0) return true;
    }
    return false;
}

std::optional<std::vector<std::string>> SimDesktop::listFolder(const std::string& path) {
    std::lock_guard lock(mutex_);
    if (unlistable_.count(path) || !folders_.count(path)) return std::nullopt;
    std::vector<std::string> entries;
    auto add = [&](const std::string& child) {
        if (parentFolder(child) != path) return;
        const std::string name = lastComponent(child);
        for (const auto& entry : entries) {
            if (entry == name) return;
        }
        entries.push_back(name);
    };
    for (const auto& bundle : bundles_) add(bundle.path);
    for (const auto& folder : folders_) add(folder);
    return entries;
}

std::string SimDesktop::homeFolder() {
    return home_;
}

// ---- activation ----

void SimDesktop::makeFront(pid_t pid) {
    for (auto& [otherPid, app] : apps_) app.info.active = otherPid == pid;
    if (App* app = appOf(pid)) app->info.hidden = false;
}

bool SimDesktop::activate(pid_t pid) {
    std::lock_guard lock(mutex_);
    App* app = appOf(pid);
    log_.record("activate", {{"pid", pid}});
    if (!app || app->info.terminated) return false;
    if (!app->activates) return true;  // asked, and it will never come
    if (app->activationDelay <= Duration::zero()) {
        makeFront(pid);
        return true;
    }
    clock_.schedule(app->activationDelay, [this, pid] {
        std::lock_guard lock(mutex_);
        App* late = appOf(pid);
        if (!late || late->info.terminated) return;
        makeFront(pid);
        log_.record("cameToFront", {{"pid", pid}});
    });
    return true;
}

bool SimDesktop::unhide(pid_t pid) {
    std::lock_guard lock(mutex_);
    App* app = appOf(pid);
    log_.record("unhide", {{"pid", pid}});
    if (!app || app->info.terminated) return false;
    app->info.hidden = false;
    return true;
}

}  // namespace pelko::computer::sim
