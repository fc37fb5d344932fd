// What the accessibility part does to objects: calls that act (an action, a focus grab, a text
// set), numbers set through the value interface, and the selection of a text read and replaced.
// Every call that may change the application counts as a change, so trees read before it are
// not used after it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>

#include "atspi-client.h"
#include "change-count.h"

namespace pelko::computer::linux_desktop {

/// The value interface's numbers.
struct ValueRange {
    double current = 0, minimum = 0, maximum = 0, increment = 0;
};

class ObjectActions {
  public:
    ObjectActions(AtspiClient& client, ChangeCount& changes) : client_(client), changes_(changes) {}

    /// Calls a method that answers a boolean, with an optional text and then an optional
    /// integer argument; the seam's error number (a false answer cannot complete).
    int callBoolean(const ObjectRef& ref, const char* interface, const char* method,
                    std::optional<int32_t> argument = std::nullopt,
                    const std::string* text = nullptr);
    /// Sets the value interface's current value.
    int setNumber(const ObjectRef& ref, double value);
    /// The value interface's numbers, read together; nothing (and `error`) on failure.
    std::optional<ValueRange> valueRange(const ObjectRef& ref, int& error);
    /// Moves a value one step up (`direction` 1) or down (-1).
    int stepValue(const ObjectRef& ref, double direction);
    /// The first selected range of a text, or the caret as an empty range.
    std::optional<std::pair<int32_t, int32_t>> selection(const ObjectRef& ref);
    /// The whole text; nothing when it cannot be read.
    std::optional<std::string> text(const ObjectRef& ref);
    /// Replaces the selection (or inserts at the caret); returns an error number.
    int replaceSelection(const ObjectRef& ref, const std::string& text);

  private:
    /// Sends one call that acts on the app and answers a boolean; the seam's error number.
    int act(const ObjectRef& ref, MessagePtr call);

    AtspiClient& client_;
    ChangeCount& changes_;
};

}  // namespace pelko::computer::linux_desktop
