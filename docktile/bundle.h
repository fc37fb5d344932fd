// Bundles: folders laid out as Contents/Info.plist (the information property list),
// Contents/MacOS/<executable> and Contents/Resources/<resources>.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "platform/property-value.h"

namespace pelko::docktile {

/// The path without its last component, as removing the last component of a folder URL does:
/// trailing separators do not count as a component, and the root stays the root.
std::filesystem::path deletingLastPathComponent(const std::filesystem::path& path);

/// Whether `name` can stand for one entry inside a folder: not empty, not "." or "..", and
/// without a separator or a NUL character.
bool isPlainFileName(const std::string& name);

/// An opened bundle. Its information property list is read anew by every call, so a bundle
/// that changes on disk is seen as it is now.
class Bundle {
  public:
    /// The bundle at `url`; nothing when `url` is not a folder. Relative paths are made
    /// absolute.
    static std::optional<Bundle> open(const std::filesystem::path& url);

    /// The bundle's folder, absolute and without a trailing separator.
    const std::filesystem::path& url() const { return url_; }
    /// The information property list; nothing when it is missing or unreadable.
    std::optional<PropertyDictionary> infoDictionary() const;
    /// The information property list's string under `key`; nothing when missing, empty or not
    /// a string.
    std::optional<std::string> infoString(const std::string& key) const;
    /// CFBundleIdentifier; nothing when missing, empty or not a string.
    std::optional<std::string> bundleIdentifier() const;
    /// Contents/MacOS/<CFBundleExecutable>; nothing when the name is missing or names anything
    /// but a file of that folder.
    std::optional<std::filesystem::path> executableURL() const;
    /// Contents/Resources/<name>.png when that is a regular file; nothing otherwise.
    std::optional<std::filesystem::path> imageResource(const std::string& name) const;
    /// Contents/PlugIns.
    std::filesystem::path builtInPlugInsURL() const { return url_ / "Contents" / "PlugIns"; }

  private:
    explicit Bundle(std::filesystem::path url) : url_(std::move(url)) {}
    std::filesystem::path url_;
};

}  // namespace pelko::docktile
