// Counts the D-Bus method calls a process sends, whatever library sends them: loaded with
// LD_PRELOAD, it stands in front of libdbus's sending functions. A program asks for the count
// through `pelkoDBusCalls` (found with dlsym); with PELKO_DBUS_CALLS_REPORT set the count is
// written to standard error when the process ends, and with PELKO_DBUS_CALLS_BY_MEMBER set also
// the count of each method ("Properties.Get" by the property it asks for), most asked first, to
// see where a read spends its calls. Used by the benchmark only.
#include <dbus/dbus.h>
#include <dlfcn.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace {

std::atomic<long> calls{0};

template <typename Function>
Function real(const char* name) {
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

const bool byMember = std::getenv("PELKO_DBUS_CALLS_BY_MEMBER") != nullptr;
std::mutex membersMutex;
std::map<std::string, long> members;

// "Accessible.GetRole", or "Properties.Get Value.CurrentValue" for a property read.
std::string memberOf(DBusMessage* message) {
    auto last = [](const char* dotted) {
        const std::string text = dotted ? dotted : "?";
        return text.substr(text.rfind('.') + 1);
    };
    std::string name = last(dbus_message_get_interface(message)) + "." +
                       last(dbus_message_get_member(message));
    DBusMessageIter iter;
    if (dbus_message_iter_init(message, &iter) && name.starts_with("Properties.Get")) {
        for (int argument = 0; argument < 2; ++argument) {
            if (dbus_message_iter_get_arg_type(&iter) != DBUS_TYPE_STRING) break;
            const char* text = nullptr;
            dbus_message_iter_get_basic(&iter, &text);
            name += (argument == 0 ? " " + last(text) : "." + std::string(text));
            dbus_message_iter_next(&iter);
        }
    }
    return name;
}

void count(DBusMessage* message) {
    if (!message || dbus_message_get_type(message) != DBUS_MESSAGE_TYPE_METHOD_CALL) return;
    ++calls;
    if (byMember) {
        std::lock_guard lock(membersMutex);
        ++members[memberOf(message)];
    }
}

void reportCalls() {
    if (!std::getenv("PELKO_DBUS_CALLS_REPORT")) return;
    std::fprintf(stderr, "dbus-calls: %ld\n", calls.load());
    std::vector<std::pair<long, std::string>> sorted;
    {
        std::lock_guard lock(membersMutex);
        for (const auto& [name, count] : members) sorted.emplace_back(count, name);
    }
    std::sort(sorted.rbegin(), sorted.rend());
    for (const auto& [count, name] : sorted)
        std::fprintf(stderr, "dbus-calls %8ld %s\n", count, name.c_str());
}

struct Report {
    ~Report() { reportCalls(); }
} report;

}  // namespace

extern "C" {

long pelkoDBusCalls() {
    return calls.load();
}

// For programs that end without running destructors (std::_Exit).
void pelkoDBusCallsReport() {
    reportCalls();
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
