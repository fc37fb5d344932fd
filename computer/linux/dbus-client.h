// A small layer over libdbus for a client that only calls methods: owned connections and
// messages, and batches of calls sent together and answered together, so that reading many
// objects costs one wait for the answers instead of one per call. Every call is counted.
#pragma once

#include <dbus/dbus.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace pelko::computer::linux_desktop {

struct MessageUnref {
    void operator()(DBusMessage* message) const { dbus_message_unref(message); }
};
/// An owned D-Bus message.
using MessagePtr = std::unique_ptr<DBusMessage, MessageUnref>;

/// What a client has spent on the bus: the calls it sent, and the times it waited for answers
/// (a batch of calls sent together is one wait).
struct BusTraffic {
    long calls = 0;
    long waits = 0;
};

/// The answer to one call: the reply, or the error's name and text.
struct CallResult {
    MessagePtr reply;
    std::string errorName;
    std::string errorText;
    bool ok() const { return reply != nullptr; }
};

/// A private connection: to a message bus (registered with it) or straight to a peer's own
/// socket. Closed when destroyed. A connection that nobody reads signals from never asks for
/// any (no match rules), so nothing piles up on it.
class Connection {
  public:
    /// Connects to the bus at `address` and registers; nothing (with `error` filled) when it
    /// cannot.
    static std::unique_ptr<Connection> openBus(const std::string& address, std::string& error);
    /// Connects straight to a peer's socket; nothing when it cannot.
    static std::unique_ptr<Connection> openPeer(const std::string& address, std::string& error);
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    DBusConnection* get() const { return connection_; }
    /// Whether the connection goes through a bus (calls then need a destination).
    bool isBus() const { return isBus_; }
    bool isConnected() const;
    /// Drops whatever arrived unasked (the bus's own greeting signals), so it never piles up.
    void dropIncoming();

  private:
    Connection(DBusConnection* connection, bool isBus) : connection_(connection), isBus_(isBus) {}
    DBusConnection* connection_;
    bool isBus_;
};

/// A method call to `path` on `interface`; `destination` is left out when empty.
MessagePtr methodCall(const std::string& destination, const std::string& path,
                      const char* interface, const char* method);

/// Calls sent together and answered together: every call is written before the first answer
/// is awaited, so the peers work on them while the answers come back.
class CallBatch {
  public:
    explicit CallBatch(BusTraffic& traffic) : traffic_(traffic) {}
    ~CallBatch();
    CallBatch(const CallBatch&) = delete;
    CallBatch& operator=(const CallBatch&) = delete;

    /// Queues `call` on `connection`, answered within `timeoutMs`; returns its place among
    /// the results of `finish`.
    size_t add(Connection& connection, MessagePtr call, int timeoutMs);
    /// Sends what is queued, waits for every answer and returns them in the order added. A
    /// call that could not be sent reads as the error "org.freedesktop.DBus.Error.NoMemory"
    /// or "org.freedesktop.DBus.Error.Disconnected".
    std::vector<CallResult> finish();
    bool empty() const { return pending_.empty(); }

  private:
    struct Pending {
        DBusPendingCall* call = nullptr;
        Connection* connection = nullptr;
        std::string failure;
    };
    BusTraffic& traffic_;
    std::vector<Pending> pending_;
};

/// One call, sent and awaited on its own.
CallResult callOnce(BusTraffic& traffic, Connection& connection, MessagePtr call, int timeoutMs);

/// Reading arguments: each reader takes an iterator at a value and returns the value when it
/// has the expected type (nothing otherwise), leaving the iterator where it was.
std::optional<std::string> readString(DBusMessageIter& iter);
std::optional<int64_t> readInteger(DBusMessageIter& iter);
std::optional<double> readDouble(DBusMessageIter& iter);
std::optional<bool> readBoolean(DBusMessageIter& iter);
/// Steps into a variant when the iterator is at one.
DBusMessageIter unwrapVariant(DBusMessageIter& iter);

}  // namespace pelko::computer::linux_desktop
