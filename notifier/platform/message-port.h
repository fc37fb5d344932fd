// The local message port seam: a named endpoint, private to the user, through which a client
// hands one request (a message identifier and bytes) to the resident.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "clock.h"

namespace pelko::notifier {

/// Receives one request on the resident's main thread: the message identifier and the payload.
using PortCallback = std::function<void(int32_t messageId, std::string payload)>;
/// Runs a task on the resident's main thread, after the tasks already queued there.
using MainQueue = std::function<void(std::function<void()>)>;

/// A registered port. The name stays registered until `invalidate` or destruction.
class LocalPort {
  public:
    virtual ~LocalPort() = default;
    /// Unregisters the name and stops receiving, at once. Called on the main thread. A request
    /// that arrives afterwards, or that was read but not yet handed over, is refused, so its
    /// sender learns that it was not received.
    virtual void invalidate() = 0;
};

/// Creating ports and sending requests to them.
class MessagePorts {
  public:
    virtual ~MessagePorts() = default;
    /// Registers `name` for the current user. Nothing when the name is already registered (another
    /// resident runs) or cannot be registered safely. Each request is read off the main thread
    /// and handed to `callback` through `mainQueue`; the sender counts as successful only once
    /// `callback` has been called.
    virtual std::unique_ptr<LocalPort> createLocal(const std::string& name, PortCallback callback,
                                                   MainQueue mainQueue) = 0;
    /// Looks `name` up and sends one request within `sendTimeout`. True exactly when the
    /// receiving port's callback was given the request; false when no port is registered, the
    /// port belongs to someone else, refuses, or does not answer in time.
    virtual bool sendRequest(const std::string& name, int32_t messageId, const std::string& payload,
                             Duration sendTimeout) = 0;
};

}  // namespace pelko::notifier
