// The distributed notification centre seam: notifications that any process of the user posts
// by name, with a user-info dictionary, and that observers in other processes receive.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "platform/property-value.h"

namespace pelko::docktile {

/// One distributed notification: its name, the sending object's name (nothing for none) and
/// its user info (empty when it carries none).
struct Notification {
    std::string name;
    std::optional<std::string> object;
    PropertyDictionary userInfo;
};

/// How a notification reaches an observer whose application is suspended. Only immediate
/// delivery matters here; the values are the platform's.
enum class SuspensionBehavior { drop = 1, coalesce = 2, hold = 3, deliverImmediately = 4 };

/// Identifies an observer for removal; the observer's address.
using ObserverId = const void*;

class DistributedNotificationCenter {
  public:
    virtual ~DistributedNotificationCenter() = default;
    /// Registers `handler` for notifications named exactly `name` from any sender. The handler
    /// runs on the main queue, never after the registration has been removed. Called on the
    /// main thread.
    virtual void addObserver(ObserverId observer, const std::string& name,
                             std::function<void(const Notification&)> handler,
                             SuspensionBehavior suspension) = 0;
    /// Removes every registration of `observer`, for all names. Called on the main thread.
    virtual void removeObserver(ObserverId observer) = 0;
    /// Delivers `notification` to the observers of its name in every process of the user.
    /// False when it could not be handed on.
    virtual bool post(const Notification& notification, bool deliverImmediately) = 0;
};

}  // namespace pelko::docktile
