#include "linux/plist-preferences.h"

#include <unistd.h>

#include <cstdlib>
#include <fstream>

#include "bundle.h"
#include "property-list.h"

namespace pelko::docktile {

namespace fs = std::filesystem;

std::optional<fs::path> configHomeFromEnvironment() {
    if (const char* config = std::getenv("XDG_CONFIG_HOME"); config && *config == '/')
        return fs::path(config);
    if (const char* home = std::getenv("HOME"); home && *home) return fs::path(home) / ".config";
    return std::nullopt;
}

std::optional<fs::path> preferencesFile(const fs::path& configHome, const std::string& domain) {
    if (!isPlainFileName(domain)) return std::nullopt;
    return configHome / (domain + ".plist");
}

bool writePreference(const fs::path& file, const std::string& key, const PropertyValue& value) {
    std::error_code error;
    // A file too large to read would lose its entries: it is left alone.
    if (auto size = fs::file_size(file, error); !error && size > maxPropertyListBytes) return false;
    std::string existing;
    if (std::ifstream in(file, std::ios::binary); in)
        existing.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    auto text = xmlPropertyListSetting(existing, key, value);
    if (!text || text->empty()) return false;

    fs::create_directories(file.parent_path(), error);
    fs::path temporary = file;
    temporary += ".new-" + std::to_string(::getpid());
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out.write(text->data(), static_cast<std::streamsize>(text->size()));
        if (!out.flush()) {
            fs::remove(temporary, error);
            return false;
        }
    }
    fs::rename(temporary, file, error);
    if (!error) return true;
    fs::remove(temporary, error);
    return false;
}

PropertyDictionary PlistPreferences::load(const std::string& domain) const {
    if (!configHome_) return {};
    auto file = preferencesFile(*configHome_, domain);
    if (!file) return {};
    return readPropertyListDictionary(*file).value_or(PropertyDictionary{});
}

void PlistPreferences::synchronize(const std::string& domain) {
    domains_[domain] = load(domain);
}

std::optional<PropertyValue> PlistPreferences::value(const std::string& domain,
                                                     const std::string& key) {
    auto found = domains_.find(domain);
    if (found == domains_.end()) found = domains_.emplace(domain, load(domain)).first;
    auto entry = found->second.find(key);
    if (entry == found->second.end()) return std::nullopt;
    return entry->second;
}

}  // namespace pelko::docktile
