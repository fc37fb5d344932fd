// Counts the D-Bus method calls a process sends, whatever library sends them: loaded with
// LD_PRELOAD, it stands in front of libdbus's sending functions. A program asks for the count
// through `pelkoDBusCalls` (found with dlsym); with PELKO_DBUS_CALLS_REPORT set the count is
// written to standard error when the process ends. Used by the benchmark only.
#include <dbus/dbus.h>
#include <dlfcn.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>

namespace {

std::atomic<long> calls{0};

template <typename Function>
Function real(const char* name) {
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

void count(DBusMessage* message) {
    if (message && dbus_message_get_type(message) == DBUS_MESSAGE_TYPE_METHOD_CALL) ++calls;
}

struct Report {
    ~Report() {
        if (std::getenv("PELKO_DBUS_CALLS_REPORT"))
            std::fprintf(stderr, "dbus-calls: %ld\n", calls.load());
    }
} report;

}  // namespace

extern "C" {

long pelkoDBusCalls() {
    return calls.load();
}

dbus_bool_t dbus_connection_send_with_reply(DBusConnection* connection, DBusMessage* message,
                                            DBusPendingCall** pending, int timeout) {
    static const auto send =
        real<decltype(&dbus_connection_send_with_reply)>("dbus_connection_send_with_reply");
    count(message);
    return send(connection, message, pending, timeout);
}

DBusMessage* dbus_connection_send_with_reply_and_block(DBusConnection* connection,
                                                       DBusMessage* message, int timeout,
                                                       DBusError* error) {
    static const auto send = real<decltype(&dbus_connection_send_with_reply_and_block)>(
        "dbus_connection_send_with_reply_and_block");
    count(message);
    return send(connection, message, timeout, error);
}

dbus_bool_t dbus_connection_send(DBusConnection* connection, DBusMessage* message,
                                 dbus_uint32_t* serial) {
    static const auto send = real<decltype(&dbus_connection_send)>("dbus_connection_send");
    count(message);
    return send(connection, message, serial);
}
}
