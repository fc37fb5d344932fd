// Per-application preferences on Linux: one property-list file per domain,
// <configuration folder>/<domain>.plist, where the configuration folder is $XDG_CONFIG_HOME
// (or ~/.config). The owning application writes it; readers read it anew when they
// synchronise.
#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>

#include "platform/preferences.h"

namespace pelko::docktile {

/// $XDG_CONFIG_HOME when it is an absolute path, else $HOME/.config; nothing when neither is
/// known.
std::optional<std::filesystem::path> configHomeFromEnvironment();

/// The preferences file of `domain` in `configHome`; nothing when `domain` cannot be a file
/// name there (empty, "." or "..", or holding a separator), so no domain reaches outside the
/// folder.
std::optional<std::filesystem::path> preferencesFile(const std::filesystem::path& configHome,
                                                     const std::string& domain);

/// Stores `value` under `key` in the preferences file `file` as the owning application does:
/// the other keys are kept, the file is replaced atomically (XML form), and the folder is made
/// when missing. False when it could not be written.
bool writePreference(const std::filesystem::path& file, const std::string& key,
                     const PropertyValue& value);

/// Preferences read from the files of one configuration folder.
class PlistPreferences final : public PreferencesDomains {
  public:
    /// Reads from `configHome`; with nothing, every domain reads as empty.
    explicit PlistPreferences(std::optional<std::filesystem::path> configHome)
        : configHome_(std::move(configHome)) {}
    /// Reads the domain's file again (a missing or unreadable file reads as empty).
    void synchronize(const std::string& domain) override;
    std::optional<PropertyValue> value(const std::string& domain, const std::string& key) override;

  private:
    PropertyDictionary load(const std::string& domain) const;
    std::optional<std::filesystem::path> configHome_;
    std::map<std::string, PropertyDictionary> domains_;
};

}  // namespace pelko::docktile
