// A phone scene: the capture devices, permission and wired iPhones a simulated computer shows.
// The format is described in docs/phone-scene.md.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "json-line.h"
#include "platform/capture.h"

namespace pelko::phone::sim {

/// A scene that cannot be read; `what()` says why.
class SceneError : public std::runtime_error {
    using std::runtime_error::runtime_error;
};

/// The size of a device's screen picture from `from` seconds after its session started.
struct ScreenSize {
    int width = 1170;
    int height = 2532;
    double from = 0;
};

struct SceneDevice {
    std::string uniqueId;
    std::string name;
    std::string model = "iOS Device";
    std::string manufacturer = "Apple Inc.";
    bool continuityCamera = false;  ///< of the continuity-camera type rather than external
    bool muxed = true;
    double appearAfter = 0;  ///< seconds after the scene was loaded
    bool inUseByAnotherApp = false;
    std::vector<ScreenSize> sizes{ScreenSize{}};
    double fps = 30;
    /// Seconds after the session started at which the device is unplugged.
    std::optional<double> disconnectAfter;
    /// Seconds after the session started at which the session fails.
    std::optional<double> runtimeErrorAfter;
    std::optional<std::string> runtimeErrorMessage;
    bool busyAfterRuntimeError = false;
    /// How building or starting a session on the device fails: "", "input", "refused", "start".
    std::string sessionFailure;
    std::string inputError = "The iPhone's screen could not be opened.";
};

struct Scene {
    Authorization permission = Authorization::authorized;
    /// The state after the consent prompt, and the flag the prompt answers with.
    Authorization afterPrompt = Authorization::authorized;
    bool promptFlag = true;
    std::int32_t allowScreenCaptureStatus = 0;
    /// Overrides the computer's own USB devices when present.
    std::optional<std::vector<std::string>> wiredIphones;
    std::vector<SceneDevice> devices;
};

/// Reads a scene from its JSON form. Throws `SceneError`.
Scene parseScene(const JSON& json);
/// Reads a scene file. Throws `SceneError`.
Scene loadScene(const std::filesystem::path& path);

}  // namespace pelko::phone::sim
