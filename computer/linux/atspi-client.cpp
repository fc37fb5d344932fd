#include "atspi-client.h"

#include <atspi/atspi-constants.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <mutex>

namespace pelko::computer::linux_desktop {
namespace {

constexpr int busCallTimeoutMs = 2000;
constexpr const char* busName = "org.freedesktop.DBus";
constexpr const char* busPath = "/org/freedesktop/DBus";
constexpr const char* propertiesInterface = "org.freedesktop.DBus.Properties";

MessagePtr withString(MessagePtr message, const std::string& text) {
    const char* value = text.c_str();
    if (message)
        dbus_message_append_args(message.get(), DBUS_TYPE_STRING, &value, DBUS_TYPE_INVALID);
    return message;
}

// The first argument of a reply, if it is a string.
std::optional<std::string> replyString(const CallResult& result) {
    if (!result.ok()) return std::nullopt;
    DBusMessageIter iter;
    if (!dbus_message_iter_init(result.reply.get(), &iter)) return std::nullopt;
    DBusMessageIter value = unwrapVariant(iter);
    return readString(value);
}

// The client on the real accessibility bus.
class BusClient final : public AtspiClient {
  public:
    BusClient(std::unique_ptr<Connection> sessionBus, std::unique_ptr<Connection> bus)
        : session_(std::move(sessionBus)), bus_(std::move(bus)) {}

    std::vector<App> applications() override;
    std::string busNameOf(pid_t pid) override;
    std::optional<pid_t> pidOf(const std::string& busName) override;
    std::optional<bool> toolkitAccessibilityEnabled() override;
    bool enableToolkitAccessibility() override;
    bool answers() override;
    std::vector<CallResult> callAll(std::vector<Call> calls) override;
    void setTimeout(const std::string& busName, int milliseconds) override;
    BusTraffic traffic() override;

  private:
    // Under the lock: the connection for an application (its own socket when it gives one).
    Connection& connectionFor(const std::string& busName);
    std::vector<App> listApplications();
    std::optional<pid_t> askPid(const std::string& busName);
    int timeoutOf(const std::string& busName);

    std::mutex mutex_;
    std::unique_ptr<Connection> session_;
    std::unique_ptr<Connection> bus_;
    BusTraffic traffic_;
    std::map<std::string, std::unique_ptr<Connection>> peers_;
    /// Bus names whose application offered no socket of its own (calls go through the bus).
    std::map<std::string, bool> noPeer_;
    std::map<std::string, pid_t> pids_;
    std::map<std::string, int> timeouts_;
};

}  // namespace

bool ObjectRef::isNull() const {
    return path.empty() || path == ATSPI_DBUS_PATH_NULL;
}

std::optional<ObjectRef> readObjectRef(DBusMessageIter& iter) {
    if (dbus_message_iter_get_arg_type(&iter) != DBUS_TYPE_STRUCT) return std::nullopt;
    DBusMessageIter inner;
    dbus_message_iter_recurse(&iter, &inner);
    auto name = readString(inner);
    if (!name || !dbus_message_iter_next(&inner)) return std::nullopt;
    auto path = readString(inner);
    if (!path) return std::nullopt;
    return ObjectRef{std::move(*name), std::move(*path)};
}

std::optional<StateSet> readStateSet(DBusMessageIter& iter) {
    if (dbus_message_iter_get_arg_type(&iter) != DBUS_TYPE_ARRAY) return std::nullopt;
    DBusMessageIter words;
    dbus_message_iter_recurse(&iter, &words);
    StateSet states = 0;
    for (int shift = 0; shift < 64 && dbus_message_iter_get_arg_type(&words) == DBUS_TYPE_UINT32;
         shift += 32) {
        dbus_uint32_t word;
        dbus_message_iter_get_basic(&words, &word);
        states |= StateSet{word} << shift;
        dbus_message_iter_next(&words);
    }
    return states;
}

std::optional<uint32_t> readInterfaces(DBusMessageIter& iter) {
    if (dbus_message_iter_get_arg_type(&iter) != DBUS_TYPE_ARRAY) return std::nullopt;
    DBusMessageIter names;
    dbus_message_iter_recurse(&iter, &names);
    uint32_t bits = 0;
    while (auto name = readString(names)) {
        bits |= interfaceBit(*name);
        if (!dbus_message_iter_next(&names)) break;
    }
    return bits;
}

std::optional<std::vector<CacheItem>> parseCacheItems(DBusMessage* reply) {
    DBusMessageIter iter;
    if (!reply || !dbus_message_iter_init(reply, &iter) ||
        dbus_message_iter_get_arg_type(&iter) != DBUS_TYPE_ARRAY)
        return std::nullopt;
    DBusMessageIter array;
    dbus_message_iter_recurse(&iter, &array);
    std::vector<CacheItem> items;
    while (dbus_message_iter_get_arg_type(&array) == DBUS_TYPE_STRUCT && items.size() < maxListed) {
        DBusMessageIter field;
        dbus_message_iter_recurse(&array, &field);
        CacheItem item;
        auto object = readObjectRef(field);
        // The application reference that follows the object is the same for every item.
        if (!object || !dbus_message_iter_next(&field) || !dbus_message_iter_next(&field))
            return std::nullopt;
        auto parent = readObjectRef(field);
        if (!parent || !dbus_message_iter_next(&field)) return std::nullopt;
        const auto index = readInteger(field);
        if (!index || !dbus_message_iter_next(&field)) return std::nullopt;
        const auto count = readInteger(field);
        if (!count || !dbus_message_iter_next(&field)) return std::nullopt;
        const auto interfaces = readInterfaces(field);
        if (!interfaces || !dbus_message_iter_next(&field)) return std::nullopt;
        auto name = readString(field);
        if (!name || !dbus_message_iter_next(&field)) return std::nullopt;
        const auto role = readInteger(field);
        if (!role || !dbus_message_iter_next(&field)) return std::nullopt;
        auto description = readString(field);
        if (!description || !dbus_message_iter_next(&field)) return std::nullopt;
        const auto states = readStateSet(field);
        if (!states) return std::nullopt;
        item.object = std::move(*object);
        item.parent = std::move(*parent);
        item.indexInParent = static_cast<int>(*index);
        item.childCount = static_cast<int>(*count);
        item.interfaces = *interfaces;
        item.name = std::move(*name);
        item.role = static_cast<uint32_t>(*role);
        item.description = std::move(*description);
        item.states = *states;
        items.push_back(std::move(item));
        dbus_message_iter_next(&array);
    }
    return items;
}

bool meansGone(const std::string& errorName) {
    return errorName == DBUS_ERROR_UNKNOWN_OBJECT || errorName == DBUS_ERROR_UNKNOWN_METHOD ||
           errorName == DBUS_ERROR_SERVICE_UNKNOWN || errorName == DBUS_ERROR_NAME_HAS_NO_OWNER ||
           errorName == DBUS_ERROR_DISCONNECTED || errorName == DBUS_ERROR_UNKNOWN_INTERFACE;
}

std::unique_ptr<AtspiClient> AtspiClient::connect(std::string& error) {
    const char* session = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    std::unique_ptr<Connection> sessionBus;
    if (session && *session) sessionBus = Connection::openBus(session, error);
    std::string address;
    if (const char* given = std::getenv("AT_SPI_BUS_ADDRESS"); given && *given) {
        address = given;
    } else {
        if (!sessionBus) {
            if (error.empty()) error = "no session bus (DBUS_SESSION_BUS_ADDRESS is not set)";
            return nullptr;
        }
        BusTraffic traffic;
        const auto answer =
            callOnce(traffic, *sessionBus,
                     methodCall("org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus", "GetAddress"),
                     busCallTimeoutMs);
        const auto found = replyString(answer);
        if (!found || found->empty()) {
            error = "the session bus knows no accessibility bus (" +
                    (answer.errorText.empty() ? answer.errorName : answer.errorText) + ")";
            return nullptr;
        }
        address = *found;
    }
    auto bus = Connection::openBus(address, error);
    if (!bus) return nullptr;
    return std::make_unique<BusClient>(std::move(sessionBus), std::move(bus));
}

std::vector<AtspiClient::App> BusClient::listApplications() {
    const auto answer = callOnce(traffic_, *bus_,
                                 methodCall(ATSPI_DBUS_NAME_REGISTRY, ATSPI_DBUS_PATH_ROOT,
                                            ATSPI_DBUS_INTERFACE_ACCESSIBLE, "GetChildren"),
                                 busCallTimeoutMs);
    std::vector<App> apps;
    DBusMessageIter iter;
    if (!answer.ok() || !dbus_message_iter_init(answer.reply.get(), &iter) ||
        dbus_message_iter_get_arg_type(&iter) != DBUS_TYPE_ARRAY)
        return apps;
    DBusMessageIter array;
    dbus_message_iter_recurse(&iter, &array);
    std::vector<std::string> names;
    for (std::optional<ObjectRef> ref;
         names.size() < maxListed && (ref = readObjectRef(array)).has_value();) {
        names.push_back(ref->name);
        if (!dbus_message_iter_next(&array)) break;
    }
    // The process ids of names not seen before, asked together.
    CallBatch batch(traffic_);
    std::vector<std::pair<std::string, size_t>> asked;
    for (const auto& name : names) {
        if (pids_.count(name)) continue;
        asked.emplace_back(name, batch.add(*bus_,
                                           withString(methodCall(busName, busPath, busName,
                                                                 "GetConnectionUnixProcessID"),
                                                      name),
                                           busCallTimeoutMs));
    }
    const auto answers = batch.finish();
    for (const auto& [name, at] : asked) {
        DBusMessageIter value;
        if (answers[at].ok() && dbus_message_iter_init(answers[at].reply.get(), &value)) {
            if (const auto pid = readInteger(value)) pids_[name] = static_cast<pid_t>(*pid);
        }
    }
    for (const auto& name : names) {
        if (const auto pid = pids_.find(name); pid != pids_.end())
            apps.push_back({name, pid->second});
    }
    return apps;
}

std::vector<AtspiClient::App> BusClient::applications() {
    std::lock_guard lock(mutex_);
    return listApplications();
}

std::string BusClient::busNameOf(pid_t pid) {
    std::lock_guard lock(mutex_);
    for (const auto& [name, known] : pids_) {
        if (known == pid) return name;
    }
    for (const auto& app : listApplications()) {
        if (app.pid == pid) return app.busName;
    }
    return {};
}

std::optional<pid_t> BusClient::askPid(const std::string& name) {
    if (const auto known = pids_.find(name); known != pids_.end()) return known->second;
    const auto answer = callOnce(
        traffic_, *bus_,
        withString(methodCall(busName, busPath, busName, "GetConnectionUnixProcessID"), name),
        busCallTimeoutMs);
    DBusMessageIter value;
    if (!answer.ok() || !dbus_message_iter_init(answer.reply.get(), &value)) return std::nullopt;
    const auto pid = readInteger(value);
    if (!pid) return std::nullopt;
    pids_[name] = static_cast<pid_t>(*pid);
    return static_cast<pid_t>(*pid);
}

std::optional<pid_t> BusClient::pidOf(const std::string& name) {
    std::lock_guard lock(mutex_);
    return askPid(name);
}

std::optional<bool> BusClient::toolkitAccessibilityEnabled() {
    std::lock_guard lock(mutex_);
    if (!session_) return std::nullopt;
    auto call = methodCall("org.a11y.Bus", "/org/a11y/bus", propertiesInterface, "Get");
    const char* interface = "org.a11y.Status";
    const char* property = "IsEnabled";
    dbus_message_append_args(call.get(), DBUS_TYPE_STRING, &interface, DBUS_TYPE_STRING, &property,
                             DBUS_TYPE_INVALID);
    const auto answer = callOnce(traffic_, *session_, std::move(call), busCallTimeoutMs);
    DBusMessageIter iter;
    if (!answer.ok() || !dbus_message_iter_init(answer.reply.get(), &iter)) return std::nullopt;
    DBusMessageIter value = unwrapVariant(iter);
    return readBoolean(value);
}

bool BusClient::enableToolkitAccessibility() {
    std::lock_guard lock(mutex_);
    if (!session_) return false;
    auto call = methodCall("org.a11y.Bus", "/org/a11y/bus", propertiesInterface, "Set");
    const char* interface = "org.a11y.Status";
    const char* property = "IsEnabled";
    DBusMessageIter iter, variant;
    dbus_message_iter_init_append(call.get(), &iter);
    dbus_message_iter_append_basic(&iter, DBUS_TYPE_STRING, &interface);
    dbus_message_iter_append_basic(&iter, DBUS_TYPE_STRING, &property);
    dbus_message_iter_open_container(&iter, DBUS_TYPE_VARIANT, "b", &variant);
    const dbus_bool_t on = true;
    dbus_message_iter_append_basic(&variant, DBUS_TYPE_BOOLEAN, &on);
    dbus_message_iter_close_container(&iter, &variant);
    return callOnce(traffic_, *session_, std::move(call), busCallTimeoutMs).ok();
}

bool BusClient::answers() {
    std::lock_guard lock(mutex_);
    // Pinging the registry's name starts it when it is not running yet.
    return callOnce(traffic_, *bus_,
                    methodCall(ATSPI_DBUS_NAME_REGISTRY, ATSPI_DBUS_PATH_ROOT,
                               "org.freedesktop.DBus.Peer", "Ping"),
                    busCallTimeoutMs)
        .ok();
}

Connection& BusClient::connectionFor(const std::string& name) {
    if (auto peer = peers_.find(name); peer != peers_.end()) {
        if (peer->second->isConnected()) return *peer->second;
        peers_.erase(peer);  // the application went away or closed its socket
        return *bus_;
    }
    if (noPeer_.count(name)) return *bus_;
    // Asked once per application: talking to its own socket skips the bus's relay.
    const auto answer =
        callOnce(traffic_, *bus_,
                 methodCall(name, ATSPI_DBUS_PATH_ROOT, ATSPI_DBUS_INTERFACE_APPLICATION,
                            "GetApplicationBusAddress"),
                 timeoutOf(name));
    const auto address = replyString(answer);
    std::string error;
    std::unique_ptr<Connection> peer;
    if (address && !address->empty()) peer = Connection::openPeer(*address, error);
    if (!peer) {
        // Asked again later only if the answer was a time-out: the app may have been busy.
        if (answer.errorName != DBUS_ERROR_NO_REPLY) noPeer_[name] = true;
        return *bus_;
    }
    return *(peers_[name] = std::move(peer));
}

std::vector<CallResult> BusClient::callAll(std::vector<Call> calls) {
    std::lock_guard lock(mutex_);
    CallBatch batch(traffic_);
    for (auto& call : calls) {
        Connection& connection = connectionFor(call.busName);
        const int timeout = timeoutOf(call.busName);
        batch.add(connection, std::move(call.message),
                  call.timeoutMs > 0 ? std::min(call.timeoutMs, timeout) : timeout);
    }
    return batch.finish();
}

void BusClient::setTimeout(const std::string& name, int milliseconds) {
    std::lock_guard lock(mutex_);
    timeouts_[name] = milliseconds;
}

int BusClient::timeoutOf(const std::string& name) {
    const auto timeout = timeouts_.find(name);
    return timeout == timeouts_.end() ? defaultCallTimeoutMs : timeout->second;
}

BusTraffic BusClient::traffic() {
    std::lock_guard lock(mutex_);
    return traffic_;
}

}  // namespace pelko::computer::linux_desktop
