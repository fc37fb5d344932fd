#include "sim/phone-scene.h"

#include <algorithm>
#include <fstream>
#include <sstream>
#include <type_traits>

namespace pelko::phone::sim {

namespace {

/// How the scene's error names the kind of value a key takes.
template <typename T>
constexpr const char* kindName() {
    if constexpr (std::is_same_v<T, bool>)
        return "true or false";
    else if constexpr (std::is_same_v<T, std::string>)
        return "text";
    else if constexpr (std::is_integral_v<T>)
        return "a whole number";
    else
        return "a number";
}

template <typename T>
bool holds(const JSON& value) {
    if constexpr (std::is_same_v<T, bool>)
        return value.is_boolean();
    else if constexpr (std::is_same_v<T, std::string>)
        return value.is_string();
    else if constexpr (std::is_integral_v<T>)
        return value.is_number_integer();
    else
        return value.is_number();
}

[[noreturn]] void wrongKind(const char* key, const std::string& kind) {
    throw SceneError(std::string("scene key \"") + key + "\" must be " + kind);
}

/// The value under `key`; nothing when the key is missing. Throws `SceneError` naming the key
/// and the kind it takes when it holds another kind.
template <typename T>
std::optional<T> optionalKey(const JSON& object, const char* key) {
    const auto found = object.find(key);
    if (found == object.end()) return std::nullopt;
    if (!holds<T>(*found)) wrongKind(key, kindName<T>());
    return found->get<T>();
}

/// Reads the value under `key` into `field` when the key is there.
template <typename T>
void read(const JSON& object, const char* key, T& field) {
    if (auto value = optionalKey<T>(object, key)) field = std::move(*value);
}

/// The value under `key`, which must be there.
template <typename T>
T requiredKey(const JSON& object, const char* key, const char* what) {
    auto value = optionalKey<T>(object, key);
    if (!value) {
        throw SceneError(std::string(what) + " needs \"" + key + "\" (" + kindName<T>() + ")");
    }
    return std::move(*value);
}

/// The object under `key`, or nothing when the key is missing.
std::optional<JSON> objectUnder(const JSON& object, const char* key) {
    const auto found = object.find(key);
    if (found == object.end()) return std::nullopt;
    if (!found->is_object()) wrongKind(key, "a JSON object");
    return *found;
}

/// The list under `key` (empty when the key is missing).
JSON listUnder(const JSON& object, const char* key) {
    const auto found = object.find(key);
    if (found == object.end()) return JSON::array();
    if (!found->is_array()) wrongKind(key, "a list");
    return *found;
}

/// The texts listed under `key`, or nothing when the key is missing.
std::optional<std::vector<std::string>> textsUnder(const JSON& object, const char* key) {
    const auto found = object.find(key);
    if (found == object.end()) return std::nullopt;
    if (!found->is_array() || !std::all_of(found->begin(), found->end(),
                                           [](const JSON& item) { return item.is_string(); }))
        wrongKind(key, "a list of texts");
    return found->get<std::vector<std::string>>();
}

Authorization authorizationUnder(const JSON& object, const char* key, Authorization fallback) {
    const auto found = object.find(key);
    if (found == object.end()) return fallback;
    if (found->is_number_integer()) {
        const auto number = found->get<std::int64_t>();
        if (number >= 0 && number <= 3) return static_cast<Authorization>(number);
    } else if (found->is_string()) {
        const std::string word = found->get<std::string>();
        if (word == "notDetermined") return Authorization::notDetermined;
        if (word == "restricted") return Authorization::restricted;
        if (word == "denied") return Authorization::denied;
        if (word == "granted") return Authorization::authorized;
    }
    wrongKind(key, "\"notDetermined\", \"restricted\", \"denied\", \"granted\" or 0 to 3");
}

SceneDevice parseDevice(const JSON& json) {
    if (!json.is_object()) throw SceneError("each device must be a JSON object");
    SceneDevice device;
    device.uniqueId = requiredKey<std::string>(json, "uniqueId", "a device");
    device.name = device.uniqueId;
    read(json, "name", device.name);
    read(json, "model", device.model);
    read(json, "manufacturer", device.manufacturer);
    std::string type = "external";
    read(json, "type", type);
    if (type != "external" && type != "continuityCamera") {
        throw SceneError("unknown device type \"" + type + "\"");
    }
    device.continuityCamera = type == "continuityCamera";
    if (auto media = textsUnder(json, "mediaTypes")) {
        device.muxed = std::find(media->begin(), media->end(), "muxed") != media->end();
    }
    read(json, "appearAfter", device.appearAfter);
    read(json, "inUseByAnotherApp", device.inUseByAnotherApp);
    if (auto screen = objectUnder(json, "screen")) {
        read(*screen, "fps", device.fps);
        if (screen->contains("sizes")) {
            device.sizes.clear();
            for (const auto& size : listUnder(*screen, "sizes")) {
                if (!size.is_object()) throw SceneError("each screen size must be a JSON object");
                ScreenSize screenSize;
                const auto width = requiredKey<std::int64_t>(size, "width", "a screen size");
                const auto height = requiredKey<std::int64_t>(size, "height", "a screen size");
                if (width < 0 || height < 0 || width > 8192 || height > 8192) {
                    throw SceneError("a screen size must be 0 to 8192 pixels on each side");
                }
                screenSize.width = static_cast<int>(width);
                screenSize.height = static_cast<int>(height);
                read(size, "from", screenSize.from);
                device.sizes.push_back(screenSize);
            }
        }
    }
    if (device.fps <= 0) throw SceneError("a screen's fps must be above 0");
    if (device.sizes.empty()) throw SceneError("a screen needs at least one size");
    device.disconnectAfter = optionalKey<double>(json, "disconnectAfter");
    if (auto error = objectUnder(json, "runtimeError")) {
        device.runtimeErrorAfter = requiredKey<double>(*error, "after", "a runtime error");
        if (error->contains("message") && !error->at("message").is_null()) {
            device.runtimeErrorMessage = optionalKey<std::string>(*error, "message");
        }
        read(*error, "busy", device.busyAfterRuntimeError);
    }
    read(json, "sessionFailure", device.sessionFailure);
    read(json, "inputError", device.inputError);
    return device;
}

}  // namespace

Scene parseScene(const JSON& json) {
    if (!json.is_object()) throw SceneError("a phone scene must be a JSON object");
    Scene scene;
    scene.permission = authorizationUnder(json, "permission", scene.permission);
    scene.afterPrompt = authorizationUnder(json, "promptAnswer", scene.afterPrompt);
    read(json, "promptFlag", scene.promptFlag);
    read(json, "allowScreenCaptureStatus", scene.allowScreenCaptureStatus);
    scene.wiredIphones = textsUnder(json, "wiredIphones");
    for (const auto& device : listUnder(json, "devices"))
        scene.devices.push_back(parseDevice(device));
    return scene;
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
