// The AT-SPI side of the desktop, spoken over D-Bus: the accessibility bus and its registry,
// the running applications with their process ids, a connection straight to each
// application's own socket where it offers one, and the parsing of what the objects answer.
//
// libatspi's one-value-per-call interface cannot send several calls before the first answer,
// so this client speaks the same D-Bus interfaces through libdbus (the library libatspi itself
// uses), taking its names and numbers from libatspi's constants.
#pragma once

#include <sys/types.h>

#include <memory>
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

/// The accessibility bus and what runs on it, as the accessibility part asks for it. The real
/// client (`connect`) speaks D-Bus; anything else that answers the same calls can stand in for
/// it (the fuzz target's fake applications do). Calls may come from several threads; the real
/// client takes a lock in each public member, so its connections are used by one thread at a
/// time.
class AtspiClient {
  public:
    /// Finds the accessibility bus (the session bus's org.a11y.Bus, or AT_SPI_BUS_ADDRESS) and
    /// connects; nothing, with the reason in `error`, when there is none to reach.
    static std::unique_ptr<AtspiClient> connect(std::string& error);
    virtual ~AtspiClient() = default;

    struct App {
        std::string busName;
        pid_t pid = 0;
    };
    /// The applications the registry lists, with their process ids (in the registry's order).
    virtual std::vector<App> applications() = 0;
    /// The bus name of the application of process `pid`; empty when it is not registered.
    virtual std::string busNameOf(pid_t pid) = 0;
    /// The process of an application's bus name; nothing when it cannot be asked.
    virtual std::optional<pid_t> pidOf(const std::string& busName) = 0;

    /// Whether toolkit accessibility is switched on ("org.a11y.Status" "IsEnabled"); nothing
    /// when the switch cannot be read.
    virtual std::optional<bool> toolkitAccessibilityEnabled() = 0;
    /// Switches toolkit accessibility on; false when the switch cannot be set.
    virtual bool enableToolkitAccessibility() = 0;
    /// Whether the accessibility bus still answers (its registry is there).
    virtual bool answers() = 0;

    /// A call for the application with `busName` (the message names it as its destination).
    struct Call {
        std::string busName;
        MessagePtr message;
        /// A shorter wait than the application's, for what may be left unanswered (0: the
        /// application's).
        int timeoutMs = 0;
    };
    /// Sends the calls together, each to its application's connection, and returns the answers
    /// in the same order; each waits as long as its application's timeout. What comes back is
    /// whatever the application chose to send: every reader checks the shape it reads.
    virtual std::vector<CallResult> callAll(std::vector<Call> calls) = 0;

    /// How long calls to the application with this bus name wait for it, in milliseconds.
    virtual void setTimeout(const std::string& busName, int milliseconds) = 0;

    /// The traffic so far.
    virtual BusTraffic traffic() = 0;
};

/// The default time a call waits for an application.
constexpr int defaultCallTimeoutMs = 6000;
/// The most entries a reply's list is read for (objects of the bulk read, references, map
/// entries); what an application lists beyond is left out, so memory stays bounded whatever it
/// sends. Ten times the objects an outline looks at.
constexpr size_t maxListed = 60000;

}  // namespace pelko::computer::linux_desktop
