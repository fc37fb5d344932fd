#include "outer-screen.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cstdlib>
#include <thread>

#include "child-process.h"
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

namespace {

// A method call answered before the next step; signals that come meanwhile stay queued.
MessagePtr callAndWait(DBusConnection* connection, MessagePtr call) {
    return MessagePtr(
        dbus_connection_send_with_reply_and_block(connection, call.get(), 5000, nullptr));
}

// Appends an a{sv} holding at most one unsigned entry.
void appendProperties(DBusMessage* message, const char* key, std::optional<uint32_t> value) {
    DBusMessageIter iter, array, entry, variant;
    dbus_message_iter_init_append(message, &iter);
    dbus_message_iter_open_container(&iter, DBUS_TYPE_ARRAY, "{sv}", &array);
    if (value) {
        dbus_message_iter_open_container(&array, DBUS_TYPE_DICT_ENTRY, nullptr, &entry);
        dbus_message_iter_append_basic(&entry, DBUS_TYPE_STRING, &key);
        dbus_message_iter_open_container(&entry, DBUS_TYPE_VARIANT, "u", &variant);
        dbus_message_iter_append_basic(&variant, DBUS_TYPE_UINT32, &*value);
        dbus_message_iter_close_container(&entry, &variant);
        dbus_message_iter_close_container(&array, &entry);
    }
    dbus_message_iter_close_container(&iter, &array);
}

std::string objectPath(const MessagePtr& reply) {
    const char* path = nullptr;
    if (!reply || !dbus_message_get_args(reply.get(), nullptr, DBUS_TYPE_OBJECT_PATH, &path,
                                         DBUS_TYPE_INVALID))
        return "";
    return path;
}

// The compositor's screen as one picture: mutter's screen cast of its monitor, one frame taken
// from its PipeWire stream by GStreamer, as a GNOME screen recorder or screen share takes it.
SurfacePtr screenCast() {
    std::string error;
    const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    auto bus = Connection::openBus(address ? address : "", error);
    if (!bus) return nullptr;
    DBusConnection* connection = bus->get();
    const char* service = "org.gnome.Mutter.ScreenCast";
    dbus_bus_add_match(connection,
                       "type='signal',interface='org.gnome.Mutter.ScreenCast.Stream',"
                       "member='PipeWireStreamAdded'",
                       nullptr);
    auto create = methodCall(service, "/org/gnome/Mutter/ScreenCast", service, "CreateSession");
    appendProperties(create.get(), "", std::nullopt);
    const std::string session = objectPath(callAndWait(connection, std::move(create)));
    if (session.empty()) return nullptr;
    const std::string sessionInterface = std::string(service) + ".Session";
    auto record = methodCall(service, session, sessionInterface.c_str(), "RecordMonitor");
    const char* primary = "";
    dbus_message_append_args(record.get(), DBUS_TYPE_STRING, &primary, DBUS_TYPE_INVALID);
    appendProperties(record.get(), "cursor-mode", 0);  // no pointer drawn in
    const std::string stream = objectPath(callAndWait(connection, std::move(record)));
    callAndWait(connection, methodCall(service, session, sessionInterface.c_str(), "Start"));
    dbus_uint32_t node = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!node && std::chrono::steady_clock::now() < deadline &&
           dbus_connection_read_write(connection, 100)) {
        while (DBusMessage* message = dbus_connection_pop_message(connection)) {
            if (dbus_message_is_signal(message, "org.gnome.Mutter.ScreenCast.Stream",
                                       "PipeWireStreamAdded") &&
                stream == dbus_message_get_path(message))
                dbus_message_get_args(message, nullptr, DBUS_TYPE_UINT32, &node, DBUS_TYPE_INVALID);
            dbus_message_unref(message);
        }
    }
    SurfacePtr picture;
    if (node) {
        pelko::testing::ScopedTempDir folder;
        const std::string file = (folder / "screen.png").string();
        pelko::testing::ChildOptions options;
        options.nullStdin = true;
        pelko::testing::ChildProcess grab(
            {"/usr/bin/gst-launch-1.0", "-q", "pipewiresrc", "path=" + std::to_string(node),
             "num-buffers=1", "!", "videoconvert", "!", "pngenc", "!", "filesink",
             "location=" + file},
            options);
        const auto ended = grab.waitExit(pelko::testing::Timeout{15000});
        if (ended && ended->exited && ended->code == 0)
            picture.reset(cairo_image_surface_create_from_png(file.c_str()));
    }
    callAndWait(connection, methodCall(service, session, sessionInterface.c_str(), "Stop"));
    return picture;
}

}  // namespace

SurfacePtr OuterScreen::picture(const ScreenWindow& window) {
    if (!wayland_)
        return pelko::testing::grabScreen(display_.get(), window.x, window.y, window.width,
                                          window.height);
    SurfacePtr part(cairo_image_surface_create(CAIRO_FORMAT_RGB24, window.width, window.height));
    const SurfacePtr screen = screenCast();
    if (!screen || cairo_surface_status(screen.get()) != CAIRO_STATUS_SUCCESS) return part;
    CairoPtr cairo(cairo_create(part.get()));
    cairo_set_source_surface(cairo.get(), screen.get(), -window.x, -window.y);
    cairo_paint(cairo.get());
    cairo_surface_flush(part.get());
    return part;
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
