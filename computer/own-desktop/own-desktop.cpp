#include "own-desktop.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "linux/dbus-client.h"

namespace pelko::computer::own_desktop {

using linux_desktop::BusTraffic;
using linux_desktop::callOnce;
using linux_desktop::Connection;
using linux_desktop::methodCall;

namespace {

// How long each part may take to start: generous, since a cold disk makes the first start of
// the X server and the buses take seconds.
constexpr Duration partStartLimit = seconds(15);
// How long each part has to end when asked before it is killed.
constexpr Duration endGrace = seconds(2);
constexpr int busCallTimeoutMs = 5000;

// Where each part's program may be, beside PATH (Debian keeps the accessibility bus's launcher
// in /usr/libexec; older releases in a folder of its own).
const std::vector<std::filesystem::path> libexecFolders = {"/usr/libexec", "/usr/lib/at-spi2-core"};

std::string value(const Environment& environment, const std::string& name) {
    const auto found = environment.find(name);
    return found == environment.end() ? std::string() : found->second;
}

// The last lines of a part's log, for the message when it did not start.
std::string logTail(const std::filesystem::path& log) {
    std::ifstream file(log);
    std::vector<std::string> lines;
    for (std::string line; std::getline(file, line);) {
        if (!line.empty()) lines.push_back(line);
    }
    std::string tail;
    const size_t first = lines.size() > 3 ? lines.size() - 3 : 0;
    for (size_t i = first; i < lines.size(); ++i) tail += (tail.empty() ? "" : " / ") + lines[i];
    return tail;
}

std::string failureText(const std::string& what, const std::filesystem::path& log) {
    const std::string tail = logTail(log);
    return what + (tail.empty() ? "" : " (" + tail + ")");
}

// Starts `launch`, turning a program that is not there into a message that names its package.
OwnedProcess startPart(const Launch& launch, const std::string& package, Clock& clock) {
    const auto program =
        findProgram(launch.arguments[0], value(launch.environment, "PATH"), libexecFolders);
    if (!program)
        throw StartFailure(std::filesystem::path(launch.arguments[0]).filename().string() +
                           " is not installed (Debian package " + package + ")");
    Launch found = launch;
    found.arguments[0] = program->string();
    return OwnedProcess::start(found, clock);
}

// The first line a part writes to the pipe it was handed as descriptor 3 (an X server's display
// number, a bus's address), once it takes clients. Throws when the part ends first or the line
// does not come in time.
std::string announcement(FileDescriptor& pipe, OwnedProcess& part, const std::string& what,
                         const std::filesystem::path& log, Clock& clock) {
    fcntl(pipe.get(), F_SETFL, fcntl(pipe.get(), F_GETFL) | O_NONBLOCK);
    std::string text;
    bool ended = false;
    const bool came = waitFor(clock, partStartLimit, [&] {
        char buffer[256];
        for (;;) {
            const ssize_t count = read(pipe.get(), buffer, sizeof buffer);
            if (count > 0) {
                text.append(buffer, static_cast<size_t>(count));
                continue;
            }
            if (count == 0) ended = true;
            break;
        }
        return text.find('\n') != std::string::npos || ended || part.ending().has_value();
    });
    const auto newline = text.find('\n');
    if (newline != std::string::npos) return text.substr(0, newline);
    if (!came) throw StartFailure(failureText(what + " did not start within 15 seconds", log));
    const auto ending = part.ending();
    throw StartFailure(failureText(
        what + " did not start" + (ending ? " (it ended with " + ending->describe() + ")" : ""),
        log));
}

FileDescriptor readEnd(Pipe& pipe) {
    return std::move(pipe.readEnd);
}

Pipe newPipe() {
    auto made = makePipe();
    if (!made) throw StartFailure("cannot make a pipe: " + made.error().describe());
    return std::move(made).take();
}

std::optional<std::string> replyText(const linux_desktop::CallResult& result) {
    DBusMessageIter iter;
    if (!result.ok() || !dbus_message_iter_init(result.reply.get(), &iter)) return {};
    return linux_desktop::readString(iter);
}

// The accessibility bus's address, once its launcher owns its name on the session bus.
std::string accessibilityBusAddress(Connection& session, OwnedProcess& launcher,
                                    const std::filesystem::path& log, Clock& clock) {
    BusTraffic traffic;
    std::string address;
    const bool found = waitFor(clock, partStartLimit, [&] {
        auto call = methodCall("org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus", "GetAddress");
        // Asked without starting the bus's service file: that would start a second launcher.
        dbus_message_set_auto_start(call.get(), false);
        if (auto text = replyText(callOnce(traffic, session, std::move(call), busCallTimeoutMs))) {
            address = *text;
            return !address.empty();
        }
        return launcher.ending().has_value();
    });
    if (!found || address.empty())
        throw StartFailure(failureText("the accessibility bus did not start", log));
    return address;
}

// Starts the accessibility registry by D-Bus activation on the accessibility bus (a registry
// started by hand races with activation) and switches toolkit accessibility on, as a user of
// assistive technology has it, so that apps started inside register.
void startRegistry(Connection& session, const std::string& accessibilityBus) {
    std::string error;
    auto bus = Connection::openBus(accessibilityBus, error);
    if (!bus) throw StartFailure("the accessibility bus does not answer (" + error + ")");
    BusTraffic traffic;
    auto start = methodCall("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                            "StartServiceByName");
    const char* registry = "org.a11y.atspi.Registry";
    const dbus_uint32_t flags = 0;
    dbus_message_append_args(start.get(), DBUS_TYPE_STRING, &registry, DBUS_TYPE_UINT32, &flags,
                             DBUS_TYPE_INVALID);
    const auto started = callOnce(traffic, *bus, std::move(start), busCallTimeoutMs);
    if (!started.ok())
        throw StartFailure("the accessibility registry did not start (" + started.errorText + ")");

    auto enable =
        methodCall("org.a11y.Bus", "/org/a11y/bus", "org.freedesktop.DBus.Properties", "Set");
    DBusMessageIter iter, variant;
    const char* interface = "org.a11y.Status";
    const char* property = "IsEnabled";
    const dbus_bool_t on = true;
    dbus_message_iter_init_append(enable.get(), &iter);
    dbus_message_iter_append_basic(&iter, DBUS_TYPE_STRING, &interface);
    dbus_message_iter_append_basic(&iter, DBUS_TYPE_STRING, &property);
    dbus_message_iter_open_container(&iter, DBUS_TYPE_VARIANT, "b", &variant);
    dbus_message_iter_append_basic(&variant, DBUS_TYPE_BOOLEAN, &on);
    dbus_message_iter_close_container(&iter, &variant);
    const auto enabled = callOnce(traffic, session, std::move(enable), busCallTimeoutMs);
    if (!enabled.ok())
        throw StartFailure("toolkit accessibility could not be switched on (" + enabled.errorText +
                           ")");
}

// Whether a window manager has announced itself on the display's root window (EWMH).
bool windowManagerReady(xcb_connection_t* connection) {
    const char* name = "_NET_SUPPORTING_WM_CHECK";
    xcb_intern_atom_reply_t* atom = xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 0, std::strlen(name), name), nullptr);
    if (!atom) return false;
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
    xcb_get_property_reply_t* property = xcb_get_property_reply(
        connection, xcb_get_property(connection, 0, root, atom->atom, XCB_ATOM_WINDOW, 0, 1),
        nullptr);
    const bool ready = property && property->type == XCB_ATOM_WINDOW &&
                       xcb_get_property_value_length(property) == 4;
    free(property);
    free(atom);
    return ready;
}

// The folder the desktop's own folder goes in: the user's runtime folder when there is one
// (private to the user), else the temporary folder.
std::filesystem::path folderParent(const Environment& user) {
    for (const auto* name : {"XDG_RUNTIME_DIR", "TMPDIR"}) {
        const std::string folder = value(user, name);
        if (!folder.empty() && access(folder.c_str(), W_OK | X_OK) == 0) return folder;
    }
    return "/tmp";
}

}  // namespace

const char* const desktopWindowTitle = "Pelko: the agent's desktop";

std::vector<std::string> xServerArguments(const OwnDesktopOptions& options) {
    const std::string size =
        std::to_string(options.size.width) + "x" + std::to_string(options.size.height);
    // -noreset: the server stays when its last client leaves, as a desktop does.
    if (options.headless)
        return {"Xvfb",       "-displayfd", "3",   "-screen", "0",
                size + "x24", "-nolisten",  "tcp", "-noreset"};
    // -resizeable: the screen follows the window's size (RandR); -no-host-grab: Ctrl+Shift does
    // not lock the user's mouse and keyboard into the window.
    return {"Xephyr",      "-displayfd",    "3",      "-screen",          size,
            "-resizeable", "-no-host-grab", "-title", desktopWindowTitle, "-nolisten",
            "tcp",         "-noreset"};
}

Environment desktopEnvironment(const Environment& user, const std::string& display,
                               const std::string& sessionBus) {
    Environment environment = user;
    // The user's Wayland compositor, accessibility bus, session manager and launch tokens
    // belong to the user's desktop, not to this one.
    for (const auto* name :
         {"WAYLAND_DISPLAY", "WAYLAND_SOCKET", "AT_SPI_BUS_ADDRESS", "NO_AT_BRIDGE",
          "SESSION_MANAGER", "DESKTOP_STARTUP_ID", "XDG_ACTIVATION_TOKEN", "DBUS_STARTER_ADDRESS",
          "DBUS_STARTER_BUS_TYPE", "GNOME_SETUP_DISPLAY", "PELKO_SCENE"})
        environment.erase(name);
    environment["DISPLAY"] = display;
    if (sessionBus.empty()) {
        environment.erase("DBUS_SESSION_BUS_ADDRESS");
    } else {
        environment["DBUS_SESSION_BUS_ADDRESS"] = sessionBus;
    }
    // Toolkits that look for a Wayland compositor at its usual socket even without
    // WAYLAND_DISPLAY would open their windows on the user's screen instead.
    environment["XDG_SESSION_TYPE"] = "x11";
    environment["GDK_BACKEND"] = "x11";
    environment["QT_QPA_PLATFORM"] = "xcb";
    environment["CLUTTER_BACKEND"] = "x11";
    environment["SDL_VIDEODRIVER"] = "x11";
    environment["MOZ_ENABLE_WAYLAND"] = "0";
    environment["ELECTRON_OZONE_PLATFORM_HINT"] = "x11";
    return environment;
}

PrivateFolder::PrivateFolder(const std::filesystem::path& parent) {
    std::string pattern = (parent / "pelko-desktop.XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        throw StartFailure("cannot make a folder in " + parent.string() + ": " +
                           std::strerror(errno));
    path_ = pattern;
}

PrivateFolder::~PrivateFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

OwnDesktop::OwnDesktop(Clock& clock, const std::filesystem::path& folderParent)
    : clock_(clock), folder_(folderParent) {}

std::unique_ptr<OwnDesktop> OwnDesktop::start(const OwnDesktopOptions& options,
                                              const Environment& user, Clock& clock) {
    if (!options.headless && value(user, "DISPLAY").empty())
        throw StartFailure(
            "DISPLAY is not set, so there is no screen to show its window on: run it in your "
            "desktop session (on Wayland, XWayland provides DISPLAY), or add --headless");
    std::unique_ptr<OwnDesktop> desktop(new OwnDesktop(clock, folderParent(user)));
    const auto& folder = desktop->folder_.path();
    auto& parts = desktop->parts_;

    // The X server first: everything else lives on its display.
    {
        Pipe number = newPipe();
        const Launch server{.arguments = xServerArguments(options),
                            .environment = user,
                            .log = folder / "x-server.log",
                            .descriptor3 = number.writeEnd.get()};
        parts.push_back(startPart(server, options.headless ? "xvfb" : "xserver-xephyr", clock));
        number.writeEnd.reset();
        FileDescriptor announced = readEnd(number);
        desktop->display_ =
            ":" + announcement(announced, parts.back(), options.headless ? "Xvfb" : "Xephyr",
                               folder / "x-server.log", clock);
    }
    // The session bus at an address chosen here, so that the bus and what it starts know it
    // from their start.
    const std::string sessionBus = "unix:path=" + (folder / "bus").string();
    desktop->environment_ = desktopEnvironment(user, desktop->display_, sessionBus);
    desktop->socketsAtStart_ = desktop->accessibilitySockets();
    Pipe busReady = newPipe();
    {
        const Launch bus{.arguments = {"dbus-daemon", "--session", "--nofork",
                                       "--address=" + sessionBus, "--print-address=3"},
                         .environment = desktop->environment_,
                         .log = folder / "session-bus.log",
                         .descriptor3 = busReady.writeEnd.get()};
        parts.push_back(startPart(bus, "dbus-daemon", clock));
        busReady.writeEnd.reset();
    }
    // The window manager starts while the buses come up.
    parts.push_back(startPart({.arguments = {"openbox", "--sm-disable"},
                               .environment = desktop->environment_,
                               .log = folder / "window-manager.log"},
                              "openbox", clock));
    const size_t windowManager = parts.size() - 1;
    {
        FileDescriptor announced = readEnd(busReady);
        announcement(announced, parts[1], "the session bus", folder / "session-bus.log", clock);
    }
    std::string error;
    auto session = Connection::openBus(sessionBus, error);
    if (!session) throw StartFailure("the session bus does not answer (" + error + ")");
    {
        // Its bus's socket goes in the desktop's folder, so nothing of it is left behind.
        Environment environment = desktop->environment_;
        environment["XDG_RUNTIME_DIR"] = folder.string();
        parts.push_back(startPart({.arguments = {"at-spi-bus-launcher", "--launch-immediately"},
                                   .environment = environment,
                                   .log = folder / "accessibility.log"},
                                  "at-spi2-core", clock));
        const std::string address =
            accessibilityBusAddress(*session, parts.back(), folder / "accessibility.log", clock);
        startRegistry(*session, address);
    }

    desktop->connection_ = xcb_connect(desktop->display_.c_str(), nullptr);
    if (xcb_connection_has_error(desktop->connection_))
        throw StartFailure("the X display " + desktop->display_ + " does not answer");
    if (!waitFor(clock, partStartLimit,
                 [&] {
                     return windowManagerReady(desktop->connection_) ||
                            parts[windowManager].ending().has_value();
                 }) ||
        parts[windowManager].ending())
        throw StartFailure(failureText("the window manager (openbox) did not start",
                                       folder / "window-manager.log"));
    return desktop;
}

OwnDesktop::~OwnDesktop() {
    end();
}

int OwnDesktop::watchDescriptor() const {
    return connection_ ? xcb_get_file_descriptor(connection_) : -1;
}

bool OwnDesktop::xServerGone() {
    if (!connection_) return true;
    // Nothing is asked on this connection once the desktop has started; what arrives unasked
    // (a keyboard mapping's change goes to every client) is read and dropped, and the
    // connection's end shows as its error.
    while (xcb_generic_event_t* event = xcb_poll_for_event(connection_)) free(event);
    return xcb_connection_has_error(connection_) != 0;
}

void OwnDesktop::end() {
    if (ended_) return;
    ended_ = true;
    // What was started inside first (apps, the services the buses started, the accessibility
    // registry), while the display and the buses are still there for them to leave cleanly.
    std::set<pid_t> inside = descendantsOf(getpid());
    for (const auto& part : parts_) inside.erase(part.pid());
    endProcesses(inside, endGrace, clock_);
    if (connection_) {
        xcb_disconnect(connection_);
        connection_ = nullptr;
    }
    for (auto part = parts_.rbegin(); part != parts_.rend(); ++part) part->end(endGrace);
    if (!display_.empty()) removeServerLeftovers();
    // Anything started while the parts ended.
    endProcesses(descendantsOf(getpid()), endGrace, clock_);
    removeStaleSockets();
}

std::set<std::filesystem::path> OwnDesktop::accessibilitySockets() const {
    std::set<std::filesystem::path> sockets;
    const std::filesystem::path runtime = value(environment_, "XDG_RUNTIME_DIR");
    std::error_code error;
    if (runtime.empty()) return sockets;
    for (const auto& entry : std::filesystem::directory_iterator(runtime, error)) {
        if (entry.path().filename().string().rfind("at-spi2-socket-", 0) == 0)
            sockets.insert(entry.path());
    }
    return sockets;
}

void OwnDesktop::removeServerLeftovers() {
    // An X server that was killed leaves its socket. It is removed when nothing answers there
    // any more (another server that took the number since would answer).
    const std::filesystem::path socketPath = "/tmp/.X11-unix/X" + display_.substr(1);
    FileDescriptor probe(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, socketPath.c_str(), sizeof address.sun_path - 1);
    if (probe.valid() &&
        connect(probe.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 &&
        errno == ECONNREFUSED) {
        std::error_code ignored;
        std::filesystem::remove(socketPath, ignored);
    }
}

void OwnDesktop::removeStaleSockets() {
    // GTK apps leave their accessibility socket in the runtime folder, named by their process,
    // when they are ended or lose their display. The ones that came while the desktop ran and
    // whose process is gone are the desktop's apps' (or a dead process's: harmless to remove).
    for (const auto& socket : accessibilitySockets()) {
        if (socketsAtStart_.count(socket)) continue;
        const std::string name = socket.filename().string();
        const std::string number = name.substr(std::string("at-spi2-socket-").size());
        if (number.empty() || number.find_first_not_of("0123456789") != std::string::npos) continue;
        std::error_code ignored;
        if (!isAlive(std::stoi(number)) && std::filesystem::is_socket(socket, ignored))
            std::filesystem::remove(socket, ignored);
    }
}

}  // namespace pelko::computer::own_desktop
