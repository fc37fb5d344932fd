// What the parts of the simulated desktop share for reading scene values (also those of control
// commands) and for the paths of its small file system.
#pragma once

#include <optional>
#include <string>

#include "json-line.h"
#include "sim-desktop.h"

namespace pelko::computer::sim {

/// The value under `key`, or `fallback` when it is missing or null; throws `SceneError` when
/// it has the wrong type.
template <typename T>
T sceneKey(const JSON& object, const char* key, T fallback) {
    const auto found = object.find(key);
    if (found == object.end() || found->is_null()) return fallback;
    try {
        return found->get<T>();
    } catch (const JSON::exception&) {
        throw SceneError(std::string("scene key \"") + key + "\" has the wrong type");
    }
}

/// [x, y, width, height] as a rectangle; throws `SceneError` for anything else.
inline Rect sceneRect(const JSON& value, const char* key) {
    if (!value.is_array() || value.size() != 4 || !value[0].is_number() || !value[1].is_number() ||
        !value[2].is_number() || !value[3].is_number())
        throw SceneError(std::string("scene key \"") + key + "\" must be [x, y, width, height]");
    return {{value[0].get<double>(), value[1].get<double>()},
            {value[2].get<double>(), value[3].get<double>()}};
}

/// The text under `key`; nothing when it is missing or not text.
inline std::optional<std::string> optionalText(const JSON& object, const char* key) {
    const auto found = object.find(key);
    if (found == object.end() || !found->is_string()) return std::nullopt;
    return found->get<std::string>();
}

/// Throws `SceneError` unless `value` is a value the scene can give an attribute: geometry
/// objects need their numbers and references a name, also inside lists.
void checkAttributeValue(const JSON& value, const std::string& attribute);

/// The folder holding `path` ("/" for a path directly inside the root or without a slash).
inline std::string parentFolder(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos || slash == 0) return "/";
    return path.substr(0, slash);
}

/// The last component of `path`.
inline std::string lastComponent(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

/// A rectangle as [x, y, width, height], for the call log.
inline JSON rectJSON(const Rect& rect) {
    return {rect.origin.x, rect.origin.y, rect.size.width, rect.size.height};
}

}  // namespace pelko::computer::sim
