// Reading optional keys of a scene, for the parts of the simulated desktop kept in files of
// their own.
#pragma once

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

/// A rectangle as [x, y, width, height], for the call log.
inline JSON rectJSON(const Rect& rect) {
    return {rect.origin.x, rect.origin.y, rect.size.width, rect.size.height};
}

}  // namespace pelko::computer::sim
