// The plug-in binary's one export: its principal class, found by the loader under the name
// that the bundle's information property list gives as NSPrincipalClass.
#include <dlfcn.h>

#include "plugin.h"

namespace {

namespace dt = pelko::docktile;

std::shared_ptr<dt::DockTilePlugIn> createPlugIn(const dt::DockTileServices& services) {
    // The bundle that contains this code: the binary is <bundle>/Contents/MacOS/<executable>.
    Dl_info info{};
    if (::dladdr(reinterpret_cast<void*>(&createPlugIn), &info) == 0 || !info.dli_fname)
        return nullptr;
    std::filesystem::path binary = info.dli_fname;
    auto bundle = dt::Bundle::open(binary.parent_path().parent_path().parent_path());
    if (!bundle) return nullptr;
    return dt::PelkoDockTilePlugIn::create(std::move(*bundle), services);
}

}  // namespace

extern "C" __attribute__((visibility("default")))
const pelko::docktile::DockTilePlugInClass PelkoDockTilePlugIn{
    pelko::docktile::dockTilePlugInInterfaceVersion, &createPlugIn};
