// A simulated desktop: a scriptable model of the platform, loaded from a scene (a JSON file or
// a value built in code), that implements every seam of pelko-computer.
#pragma once

#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "call-log.h"
#include "platform/platform.h"

namespace pelko::computer::sim {

/// A scene that cannot be read or does not describe a desktop.
struct SceneError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

class SimDesktop final : public Application,
                         public Accessibility,
                         public ScreenCapture,
                         public Workspace {
  public:
    /// Builds the desktop that `scene` describes; throws `SceneError` when it is malformed.
    /// Pauses of the model (a slow open, say) take their time from `clock`.
    SimDesktop(Clock& clock, const Json& scene, const std::string& logPath = {});
    /// Reads the scene from the file at `path`.
    static Json loadScene(const std::string& path);

    // Application
    void becomeAccessory() override;
    bool addGlobalKeyDownMonitor(std::function<void(const KeyDown&)> handler) override;
    // Accessibility
    bool isTrusted() override;
    bool isTrustedWithPrompt() override;
    // ScreenCapture
    bool preflight() override;
    bool request() override;
    // Workspace
    bool openURL(const std::string& url) override;

    CallLog& log() { return log_; }

  private:
    Clock& clock_;
    CallLog log_;
    std::mutex mutex_;
    bool trusted_;
    bool screenCapture_;
    bool trustPromptGrants_;
    bool screenCapturePromptGrants_;
    Duration openURLTime_;
    std::vector<std::function<void(const KeyDown&)>> keyMonitors_;
};

}  // namespace pelko::computer::sim
