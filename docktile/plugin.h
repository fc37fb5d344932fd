// PelkoDockTilePlugIn: shows the app icon the user chose for the host in the host's Dock tile,
// also while the host is not running. The choice is the host's preference "PelkoAppIcon";
// the host announces changes with the distributed notification "<its bundle
// id>.pelkoAppIconChanged".
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "bundle.h"
#include "platform/dock-tile-plugin.h"

namespace pelko::docktile {

/// The host's preference key that holds the choice.
inline constexpr const char* appIconKey = "PelkoAppIcon";
/// The choice when the key is missing or not a string: the standard icon.
inline constexpr const char* defaultChoice = "pelko";
/// The one choice that selects the alternative icon.
inline constexpr const char* personalChoice = "personal";
/// The plug-in's image resource for the alternative icon.
inline constexpr const char* personalIconResource = "pelko-app-icon-personal";
/// Appended to the host's bundle identifier, the name of the change notification.
inline constexpr const char* changeNotificationSuffix = ".pelkoAppIconChanged";
/// The change notification's user-info key that may carry the new choice.
inline constexpr const char* iconKey = "icon";

class PelkoDockTilePlugIn final : public DockTilePlugIn,
                                  public std::enable_shared_from_this<PelkoDockTilePlugIn> {
  public:
    /// A plug-in living in `pluginBundle`, using the loading process's `services`, without a
    /// tile.
    static std::shared_ptr<PelkoDockTilePlugIn> create(Bundle pluginBundle,
                                                       const DockTileServices& services);
    /// Stops observing: a plug-in that has gone receives nothing more.
    ~PelkoDockTilePlugIn() override;
    PelkoDockTilePlugIn(const PelkoDockTilePlugIn&) = delete;
    PelkoDockTilePlugIn& operator=(const PelkoDockTilePlugIn&) = delete;

    /// Takes the tile (or lets it go, with nothing). Any earlier registration is removed
    /// first, so there is never more than one. With a tile inside a host bundle that has an
    /// identifier, shows the stored choice and observes the host's change notification.
    void setDockTile(std::shared_ptr<DockTile> tile) override;
    /// The bundle identifier of the application three folders up from the plug-in bundle
    /// (plug-in bundle, plug-ins folder, contents folder); nothing when that is no bundle or
    /// has no identifier.
    std::optional<std::string> owningAppBundleId() const;
    /// The choice stored in `bundleId`'s preferences, read anew; "pelko" when the key is
    /// missing or not a string.
    std::string storedChoice(const std::string& bundleId) const;
    /// Shows the alternative icon for "personal" (when the bundle has it) and the standard
    /// icon for anything else. The tile changes later, on the main queue, and only while this
    /// plug-in and its tile still exist.
    void show(const std::string& choice);
    /// The change notification: shows its "icon" when that is a string, else the stored
    /// choice. Does nothing before the host's identifier is known.
    void appIconChanged(const Notification& notification);

    const Bundle& pluginBundle() const { return pluginBundle_; }
    const std::shared_ptr<DockTile>& dockTile() const { return dockTile_; }
    const std::optional<std::string>& appBundleId() const { return appBundleId_; }

  private:
    PelkoDockTilePlugIn(Bundle pluginBundle, const DockTileServices& services)
        : pluginBundle_(std::move(pluginBundle)), services_(services) {}

    Bundle pluginBundle_;
    DockTileServices services_;
    std::shared_ptr<DockTile> dockTile_;
    std::optional<std::string> appBundleId_;
};

}  // namespace pelko::docktile
