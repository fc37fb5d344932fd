#include "linux/plist-preferences.h"

#include <plist/plist.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <memory>

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

namespace {

struct PlistFree {
    void operator()(plist_t node) const { plist_free(node); }
};
using PlistPtr = std::unique_ptr<void, PlistFree>;

std::optional<std::string> readBytes(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) return std::nullopt;
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return bytes;
}

plist_t nodeOf(const PropertyValue& value) {
    // Only the scalar kinds carry content; the setter writes strings, numbers and flags.
    switch (value.kind) {
        case PropertyValue::Kind::string:
            return plist_new_string(value.text.c_str());
        case PropertyValue::Kind::integer:
            return plist_new_uint(static_cast<uint64_t>(value.integer));
        case PropertyValue::Kind::real:
            return plist_new_real(value.real);
        case PropertyValue::Kind::boolean:
            return plist_new_bool(value.boolean ? 1 : 0);
        default:
            return nullptr;
    }
}

}  // namespace

bool writePreference(const fs::path& file, const std::string& key, const PropertyValue& value) {
    PlistPtr node(nodeOf(value));
    if (!node) return false;
    PlistPtr root;
    if (auto bytes = readBytes(file);
        bytes && !bytes->empty() && bytes->size() <= maxPropertyListBytes) {
        plist_t raw = nullptr;
        plist_from_memory(bytes->data(), static_cast<uint32_t>(bytes->size()), &raw);
        root.reset(raw);
    }
    // A file that is not a dictionary is replaced, as the owner of the domain would.
    if (!root || plist_get_node_type(root.get()) != PLIST_DICT) root.reset(plist_new_dict());
    plist_dict_set_item(root.get(), key.c_str(), node.release());

    char* xml = nullptr;
    uint32_t length = 0;
    plist_to_xml(root.get(), &xml, &length);
    std::unique_ptr<char, void (*)(char*)> text(xml, plist_to_xml_free);
    if (!text) return false;

    std::error_code error;
    fs::create_directories(file.parent_path(), error);
    fs::path temporary = file;
    temporary += ".new-" + std::to_string(::getpid());
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out.write(text.get(), length);
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
