// An application that registers with the accessibility registry as toolkits do, shows a small
// window of its process, and then answers the calls of readers badly: values of the wrong
// type, a bulk read of objects whose parents go round in a circle,
// a window whose children name their own ancestors, extents at the ends of the integer range,
// a text of megabytes, and calls it never answers at all. Its window titles are not UTF-8.
// It runs until it is ended; it prints "registered" once the registry lists it.
//
//   hostile-app
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <dbus/dbus.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr const char* rootPath = "/org/a11y/atspi/accessible/root";
// Objects whose parents go round in a circle (how many the reader keeps of a bulk read is
// tested on its own: a bulk read that large takes this app longer to send than a reader waits).
constexpr int bulkObjects = 2000;
// AT-SPI's role numbers for what is used here.
constexpr uint32_t roleApplication = 75, roleFrame = 23, rolePanel = 39, roleLabel = 29;
// The state bits "showing", "visible" and "active".
constexpr uint32_t shownStates = (1u << 25) | (1u << 30) | (1u << 1);

[[noreturn]] void die(const std::string& why) {
    std::fprintf(stderr, "hostile-app: %s\n", why.c_str());
    std::exit(1);
}

void appendString(DBusMessageIter& iter, const std::string& text) {
    const char* raw = text.c_str();
    dbus_message_iter_append_basic(&iter, DBUS_TYPE_STRING, &raw);
}
void appendPath(DBusMessageIter& iter, const std::string& path) {
    const char* raw = path.c_str();
    dbus_message_iter_append_basic(&iter, DBUS_TYPE_OBJECT_PATH, &raw);
}
void appendInt(DBusMessageIter& iter, int32_t value) {
    dbus_message_iter_append_basic(&iter, DBUS_TYPE_INT32, &value);
}
void appendUint(DBusMessageIter& iter, uint32_t value) {
    dbus_message_iter_append_basic(&iter, DBUS_TYPE_UINT32, &value);
}
void appendRef(DBusMessageIter& iter, const std::string& name, const std::string& path) {
    DBusMessageIter ref;
    dbus_message_iter_open_container(&iter, DBUS_TYPE_STRUCT, nullptr, &ref);
    appendString(ref, name);
    appendPath(ref, path);
    dbus_message_iter_close_container(&iter, &ref);
}

// One object of the bulk read: "((so)(so)(so)iiassusau)".
void appendItem(DBusMessageIter& array, const std::string& me, const std::string& path,
                const std::string& parentName, const std::string& parent, int32_t index,
                int32_t children, uint32_t role, const std::string& name) {
    DBusMessageIter item, list;
    dbus_message_iter_open_container(&array, DBUS_TYPE_STRUCT, nullptr, &item);
    appendRef(item, me, path);
    appendRef(item, me, rootPath);
    appendRef(item, parentName, parent);
    appendInt(item, index);
    appendInt(item, children);
    dbus_message_iter_open_container(&item, DBUS_TYPE_ARRAY, "s", &list);
    for (const char* interface : {"org.a11y.atspi.Accessible", "org.a11y.atspi.Component",
                                  "org.a11y.atspi.Text", "org.a11y.atspi.Action"})
        appendString(list, interface);
    dbus_message_iter_close_container(&item, &list);
    appendString(item, name);
    appendUint(item, role);
    appendString(item, "");
    dbus_message_iter_open_container(&item, DBUS_TYPE_ARRAY, "u", &list);
    appendUint(list, shownStates);
    appendUint(list, 0);
    dbus_message_iter_close_container(&item, &list);
    dbus_message_iter_close_container(&array, &item);
}

// The bulk read: the application, a window holding a panel whose own child lists its
// ancestors as children, and many objects whose parents go round in a circle.
void bulkRead(DBusMessageIter& iter, const std::string& me, const std::string& registry) {
    DBusMessageIter array;
    dbus_message_iter_open_container(&iter, DBUS_TYPE_ARRAY, "((so)(so)(so)iiassusau)", &array);
    appendItem(array, me, rootPath, registry, rootPath, -1, 1, roleApplication, "hostile");
    // Unnamed, so that its title is the window manager's (which is not UTF-8).
    appendItem(array, me, "/w", me, rootPath, 0, 1, roleFrame, "");
    appendItem(array, me, "/a", me, "/w", 0, 1, rolePanel, "");
    // Its children are asked for: it does not say how many it has.
    appendItem(array, me, "/b", me, "/a", 0, -1, roleLabel, "");
    for (int i = 0; i < bulkObjects; ++i)
        appendItem(array, me, "/o/" + std::to_string(i), me,
                   "/o/" + std::to_string((i + 1) % bulkObjects), 0, 1, rolePanel, "circle");
    dbus_message_iter_close_container(&iter, &array);
}

// The reply to a call, or nothing for a call that is never answered.
DBusMessage* answer(DBusMessage* call, const std::string& me, const std::string& registry) {
    const std::string member = dbus_message_get_member(call) ? dbus_message_get_member(call) : "";
    if (member == "Ping" || member == "Introspect") return dbus_message_new_method_return(call);
    // The name the app list asks for, and every state set: never answered.
    if (member == "Get") {
        const char* interface = "";
        const char* property = "";
        dbus_message_get_args(call, nullptr, DBUS_TYPE_STRING, &interface, DBUS_TYPE_STRING,
                              &property, DBUS_TYPE_INVALID);
        if (std::string(property) == "Name") return nullptr;
    }
    if (member == "GetState") return nullptr;

    DBusMessage* reply = dbus_message_new_method_return(call);
    DBusMessageIter iter;
    dbus_message_iter_init_append(reply, &iter);
    if (member == "GetItems") {
        bulkRead(iter, me, registry);
    } else if (member == "GetChildren") {
        // Itself, its parent and the window: ancestors as children; then null references.
        DBusMessageIter array;
        dbus_message_iter_open_container(&iter, DBUS_TYPE_ARRAY, "(so)", &array);
        for (const char* child : {"/w", "/a", "/b", rootPath}) appendRef(array, me, child);
        for (int i = 0; i < 1000; ++i) appendRef(array, me, "/org/a11y/atspi/null");
        dbus_message_iter_close_container(&iter, &array);
    } else if (member == "GetExtents" && std::string(dbus_message_get_path(call)) != "/w") {
        // Everything in the window at the ends of the integer range (the window's own extents
        // are a double, as below).
        DBusMessageIter rect;
        dbus_message_iter_open_container(&iter, DBUS_TYPE_STRUCT, nullptr, &rect);
        for (const int32_t number : {INT32_MAX, INT32_MIN, INT32_MAX, INT32_MAX})
            appendInt(rect, number);
        dbus_message_iter_close_container(&iter, &rect);
    } else if (member == "GetText") {
        appendString(iter, std::string(4 << 20, 'x'));
    } else if (member == "GetAttributes") {
        DBusMessageIter array, entry;
        dbus_message_iter_open_container(&iter, DBUS_TYPE_ARRAY, "{ss}", &array);
        for (int i = 0; i < 100000; ++i) {
            dbus_message_iter_open_container(&array, DBUS_TYPE_DICT_ENTRY, nullptr, &entry);
            appendString(entry, "k" + std::to_string(i));
            appendString(entry, "v");
            dbus_message_iter_close_container(&array, &entry);
        }
        dbus_message_iter_close_container(&iter, &array);
    } else {
        // Everything else (roles, interfaces, properties, actions, the socket's address): a
        // double where the reader expects anything else.
        const double notANumber = 0.0 / 0.0;
        dbus_message_iter_append_basic(&iter, DBUS_TYPE_DOUBLE, &notANumber);
    }
    return reply;
}

// A small window of this process, with titles that are not UTF-8.
void showWindow() {
    Display* display = XOpenDisplay(nullptr);
    if (!display) die("no X display");
    const Window window =
        XCreateSimpleWindow(display, DefaultRootWindow(display), 40, 40, 30, 30, 0, 0, 0xFFFFFF);
    const long pid = getpid();
    XChangeProperty(display, window, XInternAtom(display, "_NET_WM_PID", False), XA_CARDINAL, 32,
                    PropModeReplace, reinterpret_cast<const unsigned char*>(&pid), 1);
    const char utf8Title[] = "hostile \xff\xfe title";
    XChangeProperty(display, window, XInternAtom(display, "_NET_WM_NAME", False),
                    XInternAtom(display, "UTF8_STRING", False), 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(utf8Title), sizeof utf8Title - 1);
    XStoreName(display, window, "hostile caf\xe9");  // Latin-1, as WM_NAME is
    XClassHint hint{const_cast<char*>("hostile-app"), const_cast<char*>("HostileApp")};
    XSetClassHint(display, window, &hint);
    XMapWindow(display, window);
    XFlush(display);
    // The connection stays open (the window lives as long as the process).
}

DBusConnection* accessibilityBus() {
    DBusError error;
    dbus_error_init(&error);
    std::string address;
    if (const char* given = std::getenv("AT_SPI_BUS_ADDRESS"); given && *given) {
        address = given;
    } else {
        DBusConnection* session = dbus_bus_get_private(DBUS_BUS_SESSION, &error);
        if (!session) die("no session bus");
        DBusMessage* call = dbus_message_new_method_call("org.a11y.Bus", "/org/a11y/bus",
                                                         "org.a11y.Bus", "GetAddress");
        DBusMessage* reply = dbus_connection_send_with_reply_and_block(session, call, 5000, &error);
        const char* text = nullptr;
        if (!reply ||
            !dbus_message_get_args(reply, &error, DBUS_TYPE_STRING, &text, DBUS_TYPE_INVALID))
            die("no accessibility bus");
        address = text;
        dbus_message_unref(reply);
        dbus_message_unref(call);
    }
    DBusConnection* bus = dbus_connection_open_private(address.c_str(), &error);
    if (!bus || !dbus_bus_register(bus, &error)) die("cannot reach the accessibility bus");
    return bus;
}

}  // namespace

int main() {
    showWindow();
    DBusConnection* bus = accessibilityBus();
    const std::string me = dbus_bus_get_unique_name(bus);

    // Registering: the application's root is embedded in the registry's, as toolkits do.
    DBusMessage* embed = dbus_message_new_method_call("org.a11y.atspi.Registry", rootPath,
                                                      "org.a11y.atspi.Socket", "Embed");
    DBusMessageIter iter;
    dbus_message_iter_init_append(embed, &iter);
    appendRef(iter, me, rootPath);
    DBusError error;
    dbus_error_init(&error);
    DBusMessage* embedded = dbus_connection_send_with_reply_and_block(bus, embed, 5000, &error);
    if (!embedded)
        die(std::string("the registry refused: ") + (error.message ? error.message : ""));
    std::string registry = "org.a11y.atspi.Registry";
    if (dbus_message_iter_init(embedded, &iter) &&
        dbus_message_iter_get_arg_type(&iter) == DBUS_TYPE_STRUCT) {
        DBusMessageIter ref;
        dbus_message_iter_recurse(&iter, &ref);
        const char* name = nullptr;
        dbus_message_iter_get_basic(&ref, &name);
        if (name) registry = name;
    }
    dbus_message_unref(embedded);
    dbus_message_unref(embed);
    std::printf("registered\n");
    std::fflush(stdout);

    while (dbus_connection_read_write(bus, -1)) {
        while (DBusMessage* message = dbus_connection_pop_message(bus)) {
            if (dbus_message_get_type(message) == DBUS_MESSAGE_TYPE_METHOD_CALL) {
                if (DBusMessage* reply = answer(message, me, registry)) {
                    dbus_connection_send(bus, reply, nullptr);
                    dbus_message_unref(reply);
                }
            }
            dbus_message_unref(message);
        }
    }
    return 0;
}
