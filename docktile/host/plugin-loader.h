// Loading a Dock tile plug-in the way the Dock does: from the application bundle's plug-ins
// folder, by the principal class its bundle names.
#pragma once

#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>

#include "bundle.h"
#include "platform/dock-tile-plugin.h"

namespace pelko::docktile {

/// Why a plug-in could not be loaded, as a sentence for the person running the host.
struct LoadError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

/// The plug-in bundle that `app` names in its information property list (NSDockTilePlugIn),
/// inside its plug-ins folder. Throws LoadError when there is none.
Bundle dockTilePlugInBundle(const Bundle& app);

/// A plug-in created from its binary. The binary stays mapped for the rest of the process
/// (RTLD_NODELETE): work the plug-in queued on the main queue may outlive the plug-in object,
/// and its code must still be there when that work runs or is dropped.
class LoadedPlugIn {
  public:
    /// Opens `bundle`'s binary, finds the principal class it names and creates the plug-in
    /// with `services`, which must outlive it. Throws LoadError with what went wrong.
    LoadedPlugIn(const Bundle& bundle, const DockTileServices& services);
    ~LoadedPlugIn();
    LoadedPlugIn(const LoadedPlugIn&) = delete;
    LoadedPlugIn& operator=(const LoadedPlugIn&) = delete;

    DockTilePlugIn& plugIn() { return *plugIn_; }
    const std::string& principalClass() const { return principalClass_; }
    const std::filesystem::path& binary() const { return binary_; }

  private:
    void* handle_ = nullptr;
    std::string principalClass_;
    std::filesystem::path binary_;
    std::shared_ptr<DockTilePlugIn> plugIn_;
};

}  // namespace pelko::docktile
