// The simulated desktop's screen capture: the permission as the scene sets it and what its
// prompt grants; the windows on screen as a capture system lists them; and a still image of
// one window, drawn from its element tree, so that the picture shows what the outline says.
// Answers arrive later on the clock (the clock's timer thread when it is real), and the scene
// can make them fail, come empty, never come, or come too late.
#include "sim-desktop.h"
#include "sim-scene.h"
#include "window-picture.h"

namespace pelko::computer::sim {
namespace {

std::optional<std::string> nonEmptyText(const std::map<std::string, JSON>& attributes,
                                        const char* name) {
    const auto found = attributes.find(name);
    if (found == attributes.end() || !found->second.is_string()) return std::nullopt;
    std::string text = found->second.get<std::string>();
    if (text.empty()) return std::nullopt;
    return text;
}

bool flag(const std::map<std::string, JSON>& attributes, const char* name, bool fallback) {
    const auto found = attributes.find(name);
    if (found == attributes.end()) return fallback;
    if (found->second.is_boolean()) return found->second.get<bool>();
    if (found->second.is_number()) return found->second.get<double>() != 0;
    return fallback;
}

// The frame that "AXPosition" and "AXSize" give, when both are there.
std::optional<Rect> frameIn(const std::map<std::string, JSON>& attributes) {
    const auto position = attributes.find("AXPosition"), size = attributes.find("AXSize");
    if (position == attributes.end() || size == attributes.end()) return std::nullopt;
    const JSON& p = position->second;
    const JSON& s = size->second;
    if (!p.is_object() || !p.contains("point") || !s.is_object() || !s.contains("size"))
        return std::nullopt;
    return Rect{{p["point"][0].get<double>(), p["point"][1].get<double>()},
                {s["size"][0].get<double>(), s["size"][1].get<double>()}};
}

}  // namespace

bool SimDesktop::preflight() {
    std::lock_guard lock(mutex_);
    return screenCapture_;
}

bool SimDesktop::request() {
    std::lock_guard lock(mutex_);
    log_.record("screenCapturePrompt", {{"granted", screenCapturePromptGrants_}});
    screenCapture_ = screenCapture_ || screenCapturePromptGrants_;
    return screenCapture_;
}

// ---- the scene's keys (mutex held) ----

void SimDesktop::readCaptureScene(const JSON& scene) {
    const JSON script = sceneKey(scene, "capture", JSON::object());
    if (!script.is_object()) throw SceneError("scene key \"capture\" must be an object");
    capture_.contentFails = sceneKey(script, "contentFails", false);
    capture_.contentError = optionalText(script, "contentError");
    capture_.contentDelay = seconds(sceneKey(script, "contentSeconds", 0.0));
    capture_.image = sceneKey(script, "image", std::string("ok"));
    if (capture_.image != "ok" && capture_.image != "fails" && capture_.image != "empty" &&
        capture_.image != "dropped")
        throw SceneError("scene key \"image\" must be \"ok\", \"fails\", \"empty\" or \"dropped\"");
    capture_.imageError = optionalText(script, "imageError");
    capture_.imageDelay = seconds(sceneKey(script, "imageSeconds", 0.0));
    capture_.pixelsPerPoint = sceneKey(script, "pixelsPerPoint", 1.0);
    if (!(capture_.pixelsPerPoint > 0))
        throw SceneError("scene key \"pixelsPerPoint\" must be above 0");
}

void SimDesktop::readCaptureKeys(Id id, const JSON& entry) {
    CaptureKeys keys;
    keys.layer = sceneKey(entry, "layer", 0);
    keys.offScreen = sceneKey(entry, "offScreen", false);
    if (entry.contains("captureFrame"))
        keys.frame = sceneRect(entry["captureFrame"], "captureFrame");
    if (keys.layer != 0 || keys.offScreen || keys.frame) captureKeys_[id] = keys;
}

// ---- the model (mutex held) ----

std::vector<ShareableWindow> SimDesktop::listWindows(const ContentFilter& filter) {
    // Front to back as a window server stacks them: the frontmost app's windows, then the
    // other apps' in the workspace's order; an app's windows in its own order.
    std::vector<pid_t> stacking;
    for (pid_t pid : order_) {
        if (apps_[pid].info.active)
            stacking.insert(stacking.begin(), pid);
        else
            stacking.push_back(pid);
    }
    std::vector<ShareableWindow> windows;
    for (pid_t pid : stacking) {
        const App& app = apps_[pid];
        if (app.info.terminated) continue;
        for (Id id : app.windows) {
            const Node& node = nodes_[id];
            if (node.destroyed) continue;
            const auto keys = captureKeys_.count(id) ? captureKeys_[id] : CaptureKeys{};
            const auto frame = keys.frame ? keys.frame : frameIn(node.attributes);
            if (!frame) continue;  // a window without a place is on no screen
            const bool onScreen =
                !app.info.hidden && !keys.offScreen && !flag(node.attributes, "AXMinimized", false);
            if (filter.onScreenWindowsOnly && !onScreen) continue;
            windows.push_back({static_cast<std::uint32_t>(id), pid, keys.layer, *frame,
                               nonEmptyText(node.attributes, "AXTitle")});
        }
    }
    return windows;
}

DrawnElement SimDesktop::drawnTree(Id id) {
    const Node& node = nodes_[id];
    const auto& attributes = node.attributes;
    DrawnElement e;
    e.role = nonEmptyText(attributes, "AXRole").value_or("");
    e.subrole = nonEmptyText(attributes, "AXSubrole").value_or("");
    e.title = nonEmptyText(attributes, "AXTitle");
    e.description = nonEmptyText(attributes, "AXDescription");
    e.placeholder = nonEmptyText(attributes, "AXPlaceholderValue");
    if (const auto value = attributes.find("AXValue"); value != attributes.end()) {
        if (value->second.is_string()) e.text = value->second.get<std::string>();
        if (value->second.is_number()) e.number = value->second.get<double>();
        if (value->second.is_boolean()) e.number = value->second.get<bool>() ? 1 : 0;
    }
    e.frame = frameIn(attributes);
    e.enabled = flag(attributes, "AXEnabled", true);
    e.focused = flag(attributes, "AXFocused", false);
    e.selected = flag(attributes, "AXSelected", false);
    e.hidden = flag(attributes, "AXHidden", false);
    // A part whose accessibility tree is not built yet is still drawn: the pixels are there.
    for (Id child : node.children) {
        if (!nodes_[child].destroyed) e.children.push_back(drawnTree(child));
    }
    return e;
}

// ---- ScreenCapture ----

void SimDesktop::shareableContent(const ContentFilter& filter, ContentCompletion completion) {
    Duration delay;
    {
        std::lock_guard lock(mutex_);
        log_.record("shareableContent",
                    {{"excludingDesktopWindows", filter.excludingDesktopWindows},
                     {"onScreenWindowsOnly", filter.onScreenWindowsOnly}});
        delay = capture_.contentDelay;
    }
    clock_.schedule(delay, [this, filter, alive = std::weak_ptr<int>(lifetime_),
                            completion = std::move(completion)] {
        if (alive.expired()) return;
        std::optional<std::vector<ShareableWindow>> windows;
        std::optional<std::string> error;
        {
            std::lock_guard lock(mutex_);
            if (capture_.contentFails)
                error = capture_.contentError;
            else
                windows = listWindows(filter);
        }
        completion(std::move(windows), std::move(error));
    });
}

void SimDesktop::captureWindow(const ShareableWindow& window, int width, int height,
                               ImageCompletion completion) {
    Duration delay;
    {
        std::lock_guard lock(mutex_);
        const auto found = nodes_.find(static_cast<Id>(window.windowId));
        log_.record("captureWindow",
                    {{"window", logName(found == nodes_.end() ? nullptr : &found->second,
                                        handle(static_cast<Id>(window.windowId)))},
                     {"width", width},
                     {"height", height}});
        delay = capture_.imageDelay;
    }
    const Id id = static_cast<Id>(window.windowId);
    clock_.schedule(delay, [this, id, alive = std::weak_ptr<int>(lifetime_),
                            completion = std::move(completion)]() mutable {
        if (alive.expired()) return;
        std::string mode;
        std::optional<std::string> error;
        std::optional<DrawnElement> tree;
        double pixelsPerPoint;
        Rgba accent;
        {
            std::lock_guard lock(mutex_);
            mode = capture_.image;
            error = capture_.imageError;
            pixelsPerPoint = capture_.pixelsPerPoint;
            accent = accent_;
            const auto found = nodes_.find(id);
            const App* app = found == nodes_.end() ? nullptr : appOf(found->second.pid);
            if (found != nodes_.end() && !found->second.destroyed && app && !app->info.terminated)
                tree = drawnTree(id);
        }
        if (mode == "dropped") return;  // the completion goes without an answer
        if (mode == "fails") return completion(std::nullopt, error);
        if (mode == "empty") return completion(WindowImage{}, std::nullopt);
        if (!tree) return completion(std::nullopt, std::string("The window is gone."));
        // Drawn outside the lock, as a capture system works apart from the apps.
        completion(drawWindowPicture(*tree, pixelsPerPoint, accent), std::nullopt);
    });
}

}  // namespace pelko::computer::sim
