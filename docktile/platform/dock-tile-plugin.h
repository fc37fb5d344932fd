// What a process that loads Dock tile plug-ins and the plug-ins agree on: the services the
// process offers a plug-in, the plug-in's one operation, and the symbol its binary exports.
//
// A plug-in bundle's information property list names its principal class
// (NSPrincipalClass) and its binary (CFBundleExecutable, in Contents/MacOS). The binary
// exports, under the principal class's name, a `DockTilePlugInClass`; the loader checks its
// interface version and calls `create` once. Loader and plug-in are built with the same
// compiler and C++ library, so C++ types cross the boundary.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/dock-tile.h"
#include "platform/main-queue.h"
#include "platform/notification-center.h"
#include "platform/preferences.h"

namespace pelko::docktile {

/// The services of the loading process that a plug-in may use. They outlive every plug-in
/// created with them.
struct DockTileServices {
    PreferencesDomains& preferences;
    DistributedNotificationCenter& notifications;
    MainQueue& mainQueue;
};

/// A loaded plug-in. Called on the main thread only.
class DockTilePlugIn {
  public:
    virtual ~DockTilePlugIn() = default;
    /// Hands the plug-in its tile when the Dock loads it, and nothing when the Dock withdraws
    /// it.
    virtual void setDockTile(std::shared_ptr<DockTile> tile) = 0;
};

/// Changes whenever the types above change incompatibly.
inline constexpr uint32_t dockTilePlugInInterfaceVersion = 1;

/// The exported description of a principal class.
struct DockTilePlugInClass {
    uint32_t interfaceVersion;
    /// A new plug-in, or nothing when it cannot work at all (its own bundle is not found).
    std::shared_ptr<DockTilePlugIn> (*create)(const DockTileServices& services);
};

}  // namespace pelko::docktile
