// The distributed notification centre on Linux: notifications travel as D-Bus signals on the
// user's session bus, so every process of the session that listens receives them. The wire
// form is described in docs/architecture.md.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "platform/main-queue.h"
#include "platform/notification-center.h"

namespace pelko::docktile {

/// The object path, interface and member of the notification signal. Its arguments are the
/// name (s), the sending object's name or "" (s) and the user info (a{sv}).
inline constexpr const char* notificationObjectPath = "/pelko/DistributedNotificationCenter";
inline constexpr const char* notificationInterface = "pelko.DistributedNotificationCenter";
inline constexpr const char* notificationMember = "Notification";

/// Notifications over a D-Bus message bus, through GDBus. The connection's signals arrive on a
/// thread of the centre's own, which hands each one to the main queue; registrations live on
/// the main thread, so a handler never runs after its registration was removed.
class DBusNotificationCenter final : public DistributedNotificationCenter {
  public:
    /// Connects to the bus at `address`, or to the user's session bus when `address` is empty.
    /// A centre whose bus cannot be reached registers nothing and posts nothing.
    /// `mainQueue` must outlive the centre.
    explicit DBusNotificationCenter(MainQueue& mainQueue, const std::string& address = {});
    ~DBusNotificationCenter() override;
    DBusNotificationCenter(const DBusNotificationCenter&) = delete;
    DBusNotificationCenter& operator=(const DBusNotificationCenter&) = delete;

    /// Whether the bus was reached; `connectError` says why not.
    bool connected() const;
    const std::string& connectError() const { return connectError_; }

    void addObserver(ObserverId observer, const std::string& name,
                     std::function<void(const Notification&)> handler,
                     SuspensionBehavior suspension) override;
    void removeObserver(ObserverId observer) override;
    /// Sends the signal and waits until it has been written to the bus. False without a bus,
    /// or when a string in the notification is not valid UTF-8 (D-Bus carries only that).
    bool post(const Notification& notification, bool deliverImmediately) override;

  private:
    struct Entry {
        ObserverId observer;
        std::string name;
        std::function<void(const Notification&)> handler;
    };
    /// The registrations, touched on the main thread only.
    struct Observers {
        std::map<uint64_t, Entry> entries;
        void deliver(const Notification& notification);
    };
    class Bus;

    std::shared_ptr<Observers> observers_ = std::make_shared<Observers>();
    uint64_t nextId_ = 1;
    std::string connectError_;
    std::unique_ptr<Bus> bus_;
};

}  // namespace pelko::docktile
