#include "sim-desktop.h"

#include <fstream>
#include <sstream>

namespace pelko::computer::sim {
namespace {

template <typename T>
T read(const Json& scene, const char* key, T fallback) {
    const auto found = scene.find(key);
    if (found == scene.end()) return fallback;
    try {
        return found->get<T>();
    } catch (const Json::exception&) {
        throw SceneError(std::string("scene key \"") + key + "\" has the wrong type");
    }
}

}  // namespace

Json SimDesktop::loadScene(const std::string& path) {
    std::ifstream in(path);
    if (!in) throw SceneError("cannot open scene " + path);
    std::stringstream text;
    text << in.rdbuf();
    auto scene = parseJson(text.str());
    if (!scene || !scene->is_object()) throw SceneError("scene " + path + " is not a JSON object");
    return *scene;
}

SimDesktop::SimDesktop(Clock& clock, const Json& scene, const std::string& logPath)
    : clock_(clock),
      log_(clock, logPath),
      trusted_(read(scene, "trusted", true)),
      screenCapture_(read(scene, "screenCapture", true)),
      trustPromptGrants_(read(scene, "trustPromptGrants", false)),
      screenCapturePromptGrants_(read(scene, "screenCapturePromptGrants", false)),
      openURLTime_(seconds(read(scene, "openURLSeconds", 0.0))) {}

void SimDesktop::becomeAccessory() {
    log_.record("becomeAccessory");
}

bool SimDesktop::addGlobalKeyDownMonitor(std::function<void(const KeyDown&)> handler) {
    std::lock_guard lock(mutex_);
    keyMonitors_.push_back(std::move(handler));
    return true;
}

bool SimDesktop::isTrusted() {
    std::lock_guard lock(mutex_);
    return trusted_;
}

bool SimDesktop::isTrustedWithPrompt() {
    std::lock_guard lock(mutex_);
    if (trusted_) return true;  // the system shows no prompt to a trusted process
    log_.record("trustPrompt", {{"granted", trustPromptGrants_}});
    trusted_ = trustPromptGrants_;
    return trusted_;
}

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

bool SimDesktop::openURL(const std::string& url) {
    log_.record("openURL", {{"url", url}});
    if (openURLTime_ > Duration::zero()) clock_.sleepFor(openURLTime_);
    return true;
}

}  // namespace pelko::computer::sim
