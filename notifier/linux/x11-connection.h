// The X connection of the X11 windowing and what it learnt about the server at the start.
// Internal to the X11 backend: it brings in Xlib, whose macros other headers must not see.
#pragma once

#include <X11/Xlib.h>
#include <X11/extensions/Xrender.h>

#include <memory>

namespace pelko::notifier {

struct DisplayClose {
    void operator()(Display* display) const { XCloseDisplay(display); }
};
using DisplayPtr = std::unique_ptr<Display, DisplayClose>;

/// The connection and the server's visuals, formats, extensions and atoms.
struct X11Connection {
    DisplayPtr display;
    int screen = 0;
    Window root = 0;
    /// A 32-bit TrueColor visual, for panels with an alpha channel; null when there is none.
    Visual* argbVisual = nullptr;
    Colormap argbColormap = 0;
    /// RENDER's formats of the default visual and of 32-bit pixmaps with alpha; null without
    /// the extension.
    XRenderPictFormat* renderFormat = nullptr;
    XRenderPictFormat* argbFormat = nullptr;
    bool shapes = false;       ///< the SHAPE extension, with input shapes (1.1)
    bool monitorList = false;  ///< RandR 1.5 and its monitor list
    Atom compositorSelection = 0;
    Atom workAreaAtom = 0;
    Atom currentDesktopAtom = 0;
    Atom windowTypeAtom = 0;
    Atom notificationTypeAtom = 0;
    Atom pidAtom = 0;

    ~X11Connection() {
        if (argbColormap) XFreeColormap(display.get(), argbColormap);
    }
};

}  // namespace pelko::notifier
