#include "sim/phone-scene.h"

#include <fstream>
#include <sstream>

namespace pelko::phone::sim {

namespace {

Authorization authorizationNamed(const JSON& value) {
    if (value.is_number_integer()) return static_cast<Authorization>(value.get<int>());
    const std::string word = value.get<std::string>();
    if (word == "notDetermined") return Authorization::notDetermined;
    if (word == "restricted") return Authorization::restricted;
    if (word == "denied") return Authorization::denied;
    if (word == "granted") return Authorization::authorized;
    throw SceneError("unknown permission \"" + word + "\"");
}

template <typename T>
void read(const JSON& object, const char* key, T& field) {
    if (object.contains(key)) field = object.at(key).get<T>();
}

SceneDevice parseDevice(const JSON& json) {
    SceneDevice device;
    device.uniqueId = json.at("uniqueId").get<std::string>();
    device.name = json.value("name", device.uniqueId);
    read(json, "model", device.model);
    read(json, "manufacturer", device.manufacturer);
    const std::string type = json.value("type", "external");
    if (type != "external" && type != "continuityCamera") {
        throw SceneError("unknown device type \"" + type + "\"");
    }
    device.continuityCamera = type == "continuityCamera";
    if (json.contains("mediaTypes")) {
        device.muxed = false;
        for (const auto& media : json.at("mediaTypes")) device.muxed |= media == "muxed";
    }
    read(json, "appearAfter", device.appearAfter);
    read(json, "inUseByAnotherApp", device.inUseByAnotherApp);
    if (json.contains("screen")) {
        const JSON& screen = json.at("screen");
        read(screen, "fps", device.fps);
        if (screen.contains("sizes")) {
            device.sizes.clear();
            for (const auto& size : screen.at("sizes")) {
                device.sizes.push_back({size.at("width").get<int>(), size.at("height").get<int>(),
                                        size.value("from", 0.0)});
            }
        }
    }
    if (device.fps <= 0) throw SceneError("a screen's fps must be above 0");
    if (device.sizes.empty()) throw SceneError("a screen needs at least one size");
    for (const auto& size : device.sizes) {
        if (size.width < 0 || size.height < 0 || size.width > 8192 || size.height > 8192) {
            throw SceneError("a screen size must be 0 to 8192 pixels on each side");
        }
    }
    if (json.contains("disconnectAfter")) device.disconnectAfter = json.at("disconnectAfter");
    if (json.contains("runtimeError")) {
        const JSON& error = json.at("runtimeError");
        device.runtimeErrorAfter = error.at("after").get<double>();
        if (error.contains("message") && !error.at("message").is_null()) {
            device.runtimeErrorMessage = error.at("message").get<std::string>();
        }
        read(error, "busy", device.busyAfterRuntimeError);
    }
    read(json, "sessionFailure", device.sessionFailure);
    read(json, "inputError", device.inputError);
    return device;
}

}  // namespace

Scene parseScene(const JSON& json) {
    try {
        Scene scene;
        if (json.contains("permission")) scene.permission = authorizationNamed(json["permission"]);
        if (json.contains("promptAnswer")) {
            scene.afterPrompt = authorizationNamed(json["promptAnswer"]);
        }
        read(json, "promptFlag", scene.promptFlag);
        read(json, "allowScreenCaptureStatus", scene.allowScreenCaptureStatus);
        if (json.contains("wiredIphones")) {
            scene.wiredIphones = json.at("wiredIphones").get<std::vector<std::string>>();
        }
        if (json.contains("devices")) {
            for (const auto& device : json.at("devices")) {
                scene.devices.push_back(parseDevice(device));
            }
        }
        return scene;
    } catch (const JSON::exception& error) {
        throw SceneError(error.what());
    }
}

Scene loadScene(const std::filesystem::path& path) {
    std::ifstream file(path);
    if (!file) throw SceneError("cannot open " + path.string());
    std::stringstream text;
    text << file.rdbuf();
    auto json = parseJSON(text.str());
    if (!json) throw SceneError(path.string() + " is not JSON");
    return parseScene(*json);
}

}  // namespace pelko::phone::sim
