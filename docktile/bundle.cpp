#include "bundle.h"

#include "property-list.h"

namespace pelko::docktile {

namespace fs = std::filesystem;

namespace {

/// `path` without trailing separators (the root keeps its one).
fs::path withoutTrailingSeparators(fs::path path) {
    std::string text = path.string();
    while (text.size() > 1 && text.back() == '/') text.pop_back();
    return text;
}

}  // namespace

fs::path deletingLastPathComponent(const fs::path& path) {
    fs::path trimmed = withoutTrailingSeparators(path);
    if (trimmed == trimmed.root_path()) return trimmed;
    return trimmed.parent_path();
}

bool isPlainFileName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." &&
           name.find_first_of(std::string("/\0", 2)) == std::string::npos;
}

std::optional<Bundle> Bundle::open(const fs::path& url) {
    std::error_code error;
    if (url.empty() || !fs::is_directory(url, error)) return std::nullopt;
    fs::path absolute = fs::absolute(url, error);
    if (error) return std::nullopt;
    return Bundle(withoutTrailingSeparators(absolute.lexically_normal()));
}

std::optional<PropertyDictionary> Bundle::infoDictionary() const {
    return readPropertyListDictionary(url_ / "Contents" / "Info.plist");
}

std::optional<std::string> Bundle::infoString(const std::string& key) const {
    auto info = infoDictionary();
    if (!info) return std::nullopt;
    auto entry = info->find(key);
    if (entry == info->end() || !entry->second.isString() || entry->second.text.empty())
        return std::nullopt;
    return entry->second.text;
}

std::optional<std::string> Bundle::bundleIdentifier() const {
    return infoString("CFBundleIdentifier");
}

std::optional<fs::path> Bundle::executableURL() const {
    auto name = infoString("CFBundleExecutable");
    if (!name || !isPlainFileName(*name)) return std::nullopt;
    return url_ / "Contents" / "MacOS" / *name;
}

std::optional<fs::path> Bundle::imageResource(const std::string& name) const {
    if (!isPlainFileName(name)) return std::nullopt;
    fs::path file = url_ / "Contents" / "Resources" / (name + ".png");
    std::error_code error;
    if (!fs::is_regular_file(file, error)) return std::nullopt;
    return file;
}

}  // namespace pelko::docktile
