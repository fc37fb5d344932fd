// The AT-SPI side of the desktop, spoken over D-Bus: the accessibility bus and its registry,
// the running applications with their process ids, a connection straight to each
// application's own socket where it offers one, and the parsing of what the objects answer.
//
// libatspi's one-value-per-call interface cannot send several calls before the first answer,
// so this client speaks the same D-Bus interfaces through libdbus (the library libatspi itself
// uses), taking its names and numbers from libatspi's constants.
#pragma once

#include <sys/types.h>

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "ax-mapping.h"
#include "dbus-client.h"

namespace pelko::computer::linux_desktop {

/// A reference to an accessible object: the bus name of its application and its object path.
struct ObjectRef {
    std::string name;
    std::string path;
    bool operator==(const ObjectRef&) const = default;
    auto operator<=>(const ObjectRef&) const = default;
    /// The reference AT-SPI uses for "no object".
    bool isNull() const;
};
/// Reads a "(so)" reference; nothing when the iterator is not at one.
std::optional<ObjectRef> readObjectRef(DBusMessageIter& iter);

/// One object as the cache interface's bulk read reports it.
struct CacheItem {
    ObjectRef object;
    ObjectRef parent;
    int indexInParent = -1;  ///< -1 for many objects: the order comes from elsewhere then
    int childCount = 0;      ///< -1 when the object does not know (views that make children)
    uint32_t interfaces = 0;
    std::string name;
    uint32_t role = 0;
    std::string description;
    StateSet states = 0;
};
/// Parses the reply of "org.a11y.atspi.Cache.GetItems", "a((so)(so)(so)iiassusau)"; nothing
/// when the reply has another shape.
std::optional<std::vector<CacheItem>> parseCacheItems(DBusMessage* reply);
/// Reads an "au" state set (two 32-bit words, low first) into one set.
std::optional<StateSet> readStateSet(DBusMessageIter& iter);
/// Reads an "as" list of interface names into their bits.
std::optional<uint32_t> readInterfaces(DBusMessageIter& iter);

/// D-Bus error names that mean the object, or its whole application, is gone.
bool meansGone(const std::string& errorName);

/// The accessibility bus and what runs on it. Calls may come from several threads; each public
/// member takes the client's lock, so the connections are used by one thread at a time.
class AtspiClient {
  public:
    /// Finds the accessibility bus (the session bus's org.a11y.Bus, or AT_SPI_BUS_ADDRESS) and
    /// connects; nothing, with the reason in `error`, when there is none to reach.
    static std::unique_ptr<AtspiClient> connect(std::string& error);

    struct App {
        std::string busName;
        pid_t pid = 0;
    };
    /// The applications the registry lists, with their process ids (in the registry's order).
    std::vector<App> applications();
    /// The bus name of the application of process `pid`; empty when it is not registered.
    std::string busNameOf(pid_t pid);
    /// The process of an application's bus name; nothing when it cannot be asked.
    std::optional<pid_t> pidOf(const std::string& busName);

    /// Whether toolkit accessibility is switched on ("org.a11y.Status" "IsEnabled"); nothing
    /// when the switch cannot be read.
    std::optional<bool> toolkitAccessibilityEnabled();
    /// Switches toolkit accessibility on; false when the switch cannot be set.
    bool enableToolkitAccessibility();
    /// Whether the accessibility bus still answers (its registry is there).
    bool answers();

    /// A call for the application with `busName` (the message names it as its destination).
    struct Call {
        std::string busName;
        MessagePtr message;
    };
    /// Sends the calls together, each to its application's connection, and returns the answers
    /// in the same order; each waits as long as its application's timeout.
    std::vector<CallResult> callAll(std::vector<Call> calls);

    /// How long calls to the application with this bus name wait for it, in milliseconds.
    void setTimeout(const std::string& busName, int milliseconds);
    int timeoutOf(const std::string& busName);

    /// The traffic so far.
    BusTraffic traffic();

  private:
    AtspiClient(std::unique_ptr<Connection> sessionBus, std::unique_ptr<Connection> bus)
        : session_(std::move(sessionBus)), bus_(std::move(bus)) {}
    // Under the lock: the connection for an application (its own socket when it gives one).
    Connection& connectionFor(const std::string& busName);
    std::vector<App> listApplications();
    std::optional<pid_t> askPid(const std::string& busName);

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

/// The default time a call waits for an application.
constexpr int defaultCallTimeoutMs = 6000;

}  // namespace pelko::computer::linux_desktop
