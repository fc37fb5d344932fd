#include "outer-screen.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cstdlib>
#include <thread>

#include "linux/dbus-client.h"

namespace pelko::computer::testing {

using namespace linux_desktop;

// mutter's remote desktop session: a pointer the compositor moves as it moves a real one.
struct OuterScreen::RemotePointer {
    std::unique_ptr<Connection> bus;
    std::string session;
    BusTraffic traffic;

    bool call(const char* method, const std::function<void(DBusMessage*)>& arguments) {
        auto message = methodCall("org.gnome.Mutter.RemoteDesktop", session,
                                  "org.gnome.Mutter.RemoteDesktop.Session", method);
        if (arguments) arguments(message.get());
        return callOnce(traffic, *bus, std::move(message), 5000).ok();
    }
    bool move(double dx, double dy) {
        return call("NotifyPointerMotionRelative", [&](DBusMessage* message) {
            dbus_message_append_args(message, DBUS_TYPE_DOUBLE, &dx, DBUS_TYPE_DOUBLE, &dy,
                                     DBUS_TYPE_INVALID);
        });
    }
    bool button(bool pressed) {
        const dbus_int32_t left = 0x110;  // BTN_LEFT
        const dbus_bool_t state = pressed;
        return call("NotifyPointerButton", [&](DBusMessage* message) {
            dbus_message_append_args(message, DBUS_TYPE_INT32, &left, DBUS_TYPE_BOOLEAN, &state,
                                     DBUS_TYPE_INVALID);
        });
    }
    ~RemotePointer() {
        if (bus && !session.empty()) call("Stop", nullptr);
    }
};

namespace {

std::string windowName(Display* display, Window window) {
    char* name = nullptr;
    std::string text;
    if (XFetchName(display, window, &name) && name) text = name;
    if (name) XFree(name);
    return text;
}

// The viewable window named `title` at or below `window`.
Window findNamed(Display* display, Window window, const std::string& title) {
    XWindowAttributes attributes;
    if (windowName(display, window) == title &&
        XGetWindowAttributes(display, window, &attributes) && attributes.map_state == IsViewable)
        return window;
    Window root = 0, parent = 0, *children = nullptr;
    unsigned count = 0;
    Window found = 0;
    if (XQueryTree(display, window, &root, &parent, &children, &count)) {
        for (unsigned i = 0; i < count && !found; ++i)
            found = findNamed(display, children[i], title);
    }
    if (children) XFree(children);
    return found;
}

}  // namespace

OuterScreen::OuterScreen() {
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    wayland_ = wayland && *wayland;
    if (!wayland_) return;
    pointer_ = std::make_unique<RemotePointer>();
    std::string error;
    const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    pointer_->bus = Connection::openBus(address ? address : "", error);
    if (!pointer_->bus) return;
    const auto created =
        callOnce(pointer_->traffic, *pointer_->bus,
                 methodCall("org.gnome.Mutter.RemoteDesktop", "/org/gnome/Mutter/RemoteDesktop",
                            "org.gnome.Mutter.RemoteDesktop", "CreateSession"),
                 5000);
    const char* path = nullptr;
    if (created.ok() && dbus_message_get_args(created.reply.get(), nullptr, DBUS_TYPE_OBJECT_PATH,
                                              &path, DBUS_TYPE_INVALID))
        pointer_->session = path;
    if (!pointer_->session.empty() && !pointer_->call("Start", nullptr)) pointer_->session.clear();
}

OuterScreen::~OuterScreen() = default;

std::string OuterScreen::unavailable() {
    if (const char* reason = std::getenv("PELKO_DESKTOP_UNAVAILABLE"); reason && *reason)
        return std::string("no screen for these tests: ") + reason;
    if (!std::getenv("PELKO_DESKTOP_SESSION") && !std::getenv("PELKO_WAYLAND_SESSION"))
        return "not on a test screen: ctest runs these tests in one (scripts/desktop-session "
               "--wm, or computer/tests/own-desktop/wayland-session)";
    return "";
}

std::optional<ScreenWindow> OuterScreen::findWindow(const std::string& title) {
    Display* display = display_.get();
    if (!display) return {};
    const Window found = findNamed(display, DefaultRootWindow(display), title);
    if (!found) return {};
    XWindowAttributes attributes;
    Window child = 0;
    ScreenWindow window{found};
    if (!XGetWindowAttributes(display, found, &attributes) ||
        !XTranslateCoordinates(display, found, DefaultRootWindow(display), 0, 0, &window.x,
                               &window.y, &child))
        return {};
    window.width = attributes.width;
    window.height = attributes.height;
    return window;
}

SurfacePtr OuterScreen::picture(const ScreenWindow& window) {
    if (!wayland_)
        return pelko::testing::grabScreen(display_.get(), window.x, window.y, window.width,
                                          window.height);
    SurfacePtr image(cairo_image_surface_create(CAIRO_FORMAT_RGB24, window.width, window.height));
    XImage* picture =
        XGetImage(display_.get(), window.id, 0, 0, window.width, window.height, AllPlanes, ZPixmap);
    if (!picture) return image;
    cairo_surface_flush(image.get());
    unsigned char* data = cairo_image_surface_get_data(image.get());
    const int stride = cairo_image_surface_get_stride(image.get());
    for (int row = 0; row < window.height; ++row) {
        auto* out = reinterpret_cast<uint32_t*>(data + static_cast<size_t>(row) * stride);
        for (int column = 0; column < window.width; ++column)
            out[column] = 0xFF000000u | (XGetPixel(picture, column, row) & 0xFFFFFF);
    }
    cairo_surface_mark_dirty(image.get());
    XDestroyImage(picture);
    return image;
}

bool OuterScreen::click(int x, int y) {
    if (!wayland_)
        return pelko::testing::xdotool(
            {"mousemove", std::to_string(x), std::to_string(y), "click", "1"});
    if (!pointer_ || pointer_->session.empty()) return false;
    // To the corner first (the pointer stops at the screen's edge), then to the point.
    bool ok = pointer_->move(-100000, -100000);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ok = ok && pointer_->move(x, y);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    return ok && pointer_->button(true) && pointer_->button(false);
}

bool OuterScreen::type(const std::string& text) {
    return pelko::testing::xdotool({"type", "--delay", "20", text});
}

bool OuterScreen::key(const std::string& name) {
    return pelko::testing::xdotool({"key", name});
}

bool OuterScreen::resize(const ScreenWindow& window, int width, int height) {
    return pelko::testing::xdotool(
        {"windowsize", std::to_string(window.id), std::to_string(width), std::to_string(height)});
}

bool OuterScreen::close(const ScreenWindow& window) {
    Display* display = display_.get();
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window.id;
    event.xclient.message_type = XInternAtom(display, "_NET_CLOSE_WINDOW", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = CurrentTime;
    event.xclient.data.l[1] = 2;  // a request from a pager: the user
    const bool sent = XSendEvent(display, DefaultRootWindow(display), False,
                                 SubstructureRedirectMask | SubstructureNotifyMask, &event);
    XFlush(display);
    return sent;
}

}  // namespace pelko::computer::testing
