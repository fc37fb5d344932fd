#include "host/plugin-loader.h"

#include <dlfcn.h>

namespace pelko::docktile {

Bundle dockTilePlugInBundle(const Bundle& app) {
    auto name = app.infoString("NSDockTilePlugIn");
    if (!name)
        throw LoadError(app.url().string() + " names no Dock tile plug-in (NSDockTilePlugIn).");
    if (!isPlainFileName(*name))
        throw LoadError("The Dock tile plug-in name \"" + *name + "\" is not a file name.");
    auto plugIn = Bundle::open(app.builtInPlugInsURL() / *name);
    if (!plugIn)
        throw LoadError("The Dock tile plug-in " + (app.builtInPlugInsURL() / *name).string() +
                        " is missing.");
    return std::move(*plugIn);
}

LoadedPlugIn::LoadedPlugIn(const Bundle& bundle, const DockTileServices& services) {
    auto principalClass = bundle.infoString("NSPrincipalClass");
    if (!principalClass)
        throw LoadError(bundle.url().string() + " names no principal class (NSPrincipalClass).");
    principalClass_ = *principalClass;
    auto binary = bundle.executableURL();
    if (!binary)
        throw LoadError(bundle.url().string() + " names no executable (CFBundleExecutable).");
    binary_ = *binary;

    handle_ = ::dlopen(binary_.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    if (!handle_) {
        const char* why = ::dlerror();
        throw LoadError("The plug-in binary could not be loaded: " + std::string(why ? why : "?"));
    }
    auto* type = static_cast<const DockTilePlugInClass*>(::dlsym(handle_, principalClass_.c_str()));
    if (!type) {
        ::dlclose(handle_);
        throw LoadError("The plug-in binary has no principal class " + principalClass_ + ".");
    }
    if (type->interfaceVersion != dockTilePlugInInterfaceVersion || !type->create) {
        ::dlclose(handle_);
        throw LoadError("The plug-in's principal class " + principalClass_ +
                        " was built for another version of the plug-in interface.");
    }
    plugIn_ = type->create(services);
    if (!plugIn_) {
        ::dlclose(handle_);
        throw LoadError("The plug-in's principal class " + principalClass_ +
                        " did not start (its bundle was not found).");
    }
}

LoadedPlugIn::~LoadedPlugIn() {
    plugIn_.reset();
    ::dlclose(handle_);
}

}  // namespace pelko::docktile
