#include "object-actions.h"

#include <atspi/atspi-constants.h>

#include <algorithm>

#include "atspi-calls.h"

namespace pelko::computer::linux_desktop {

int ObjectActions::callBoolean(const ObjectRef& ref, const char* interface, const char* method,
                               std::optional<int32_t> argument, const std::string* text) {
    auto message = objectCall(ref, interface, method);
    if (message && text) appendString(message.get(), text->c_str());
    if (message && argument) appendInt(message.get(), *argument);
    return act(ref, std::move(message));
}

int ObjectActions::act(const ObjectRef& ref, MessagePtr call) {
    std::vector<AtspiClient::Call> calls;
    calls.push_back({ref.name, std::move(call)});
    const auto answers = client_.callAll(std::move(calls));
    changes_.bump();
    DBusMessageIter iter;
    if (!firstArgument(answers[0], iter)) return errorOf(answers[0]);
    return readBoolean(iter).value_or(true) ? axSuccess : axCannotComplete;
}

int ObjectActions::setNumber(const ObjectRef& ref, double value) {
    auto message = objectCall(ref, propertiesInterface, "Set");
    if (!message) return axFailure;
    const char* interface = ATSPI_DBUS_INTERFACE_VALUE;
    const char* property = "CurrentValue";
    DBusMessageIter iter, variant;
    dbus_message_iter_init_append(message.get(), &iter);
    dbus_message_iter_append_basic(&iter, DBUS_TYPE_STRING, &interface);
    dbus_message_iter_append_basic(&iter, DBUS_TYPE_STRING, &property);
    dbus_message_iter_open_container(&iter, DBUS_TYPE_VARIANT, "d", &variant);
    dbus_message_iter_append_basic(&variant, DBUS_TYPE_DOUBLE, &value);
    dbus_message_iter_close_container(&iter, &variant);
    std::vector<AtspiClient::Call> calls;
    calls.push_back({ref.name, std::move(message)});
    const auto answers = client_.callAll(std::move(calls));
    changes_.bump();
    return errorOf(answers[0]);
}

std::optional<ValueRange> ObjectActions::valueRange(const ObjectRef& ref, int& error) {
    std::vector<AtspiClient::Call> calls;
    for (const char* property :
         {"CurrentValue", "MinimumValue", "MaximumValue", "MinimumIncrement"})
        calls.push_back({ref.name, propertyGet(ref, ATSPI_DBUS_INTERFACE_VALUE, property)});
    const auto answers = client_.callAll(std::move(calls));
    double numbers[4] = {0, 0, 0, 0};
    for (int i = 0; i < 4; ++i) {
        DBusMessageIter iter;
        if (!firstArgument(answers[i], iter)) {
            if (i == 0) {
                error = errorOf(answers[0]);
                return std::nullopt;
            }
            continue;
        }
        DBusMessageIter value = unwrapVariant(iter);
        numbers[i] = readDouble(value).value_or(0);
    }
    return ValueRange{numbers[0], numbers[1], numbers[2], numbers[3]};
}

int ObjectActions::stepValue(const ObjectRef& ref, double direction) {
    int error = axSuccess;
    const auto range = valueRange(ref, error);
    if (!range) return error;
    // A control without a step moves by a tenth of its range, as a key press on it would.
    const double step =
        range->increment > 0 ? range->increment : (range->maximum - range->minimum) / 10;
    if (!(step > 0)) return axCannotComplete;
    return setNumber(ref,
                     std::clamp(range->current + direction * step, range->minimum, range->maximum));
}

std::optional<std::pair<int32_t, int32_t>> ObjectActions::selection(const ObjectRef& ref) {
    // The first selected range, or the caret as an empty one.
    std::vector<AtspiClient::Call> calls;
    auto range = objectCall(ref, ATSPI_DBUS_INTERFACE_TEXT, "GetSelection");
    if (range) appendInt(range.get(), 0);
    calls.push_back({ref.name, objectCall(ref, ATSPI_DBUS_INTERFACE_TEXT, "GetNSelections")});
    calls.push_back({ref.name, std::move(range)});
    calls.push_back({ref.name, propertyGet(ref, ATSPI_DBUS_INTERFACE_TEXT, "CaretOffset")});
    const auto answers = client_.callAll(std::move(calls));
    DBusMessageIter iter;
    if (firstArgument(answers[0], iter) && readInteger(iter).value_or(0) > 0 &&
        firstArgument(answers[1], iter)) {
        const auto start = readInteger(iter);
        dbus_message_iter_next(&iter);
        const auto end = readInteger(iter);
        if (start && end && *start >= 0 && *end >= *start)
            return std::pair{static_cast<int32_t>(*start), static_cast<int32_t>(*end)};
    }
    if (!firstArgument(answers[2], iter)) return std::nullopt;
    DBusMessageIter value = unwrapVariant(iter);
    const auto caret = readInteger(value);
    if (!caret || *caret < 0) return std::nullopt;
    return std::pair{static_cast<int32_t>(*caret), static_cast<int32_t>(*caret)};
}

std::optional<std::string> ObjectActions::text(const ObjectRef& ref) {
    auto message = objectCall(ref, ATSPI_DBUS_INTERFACE_TEXT, "GetText");
    if (message) {
        appendInt(message.get(), 0);
        appendInt(message.get(), -1);
    }
    std::vector<AtspiClient::Call> calls;
    calls.push_back({ref.name, std::move(message)});
    const auto answers = client_.callAll(std::move(calls));
    DBusMessageIter iter;
    if (!firstArgument(answers[0], iter)) return std::nullopt;
    return readString(iter);
}

int ObjectActions::replaceSelection(const ObjectRef& ref, const std::string& text) {
    const auto range = selection(ref);
    if (!range) return axCannotComplete;
    const auto [start, end] = *range;
    if (end > start) {
        auto erase = objectCall(ref, ATSPI_DBUS_INTERFACE_EDITABLE_TEXT, "DeleteText");
        if (erase) {
            appendInt(erase.get(), start);
            appendInt(erase.get(), end);
        }
        std::vector<AtspiClient::Call> calls;
        calls.push_back({ref.name, std::move(erase)});
        const auto answers = client_.callAll(std::move(calls));
        if (!answers[0].ok()) return errorOf(answers[0]);
    }
    // The position counts characters; the length counts the text's bytes (UTF-8), as the
    // toolkits take it.
    auto insert = objectCall(ref, ATSPI_DBUS_INTERFACE_EDITABLE_TEXT, "InsertText");
    if (insert) {
        appendInt(insert.get(), start);
        appendString(insert.get(), text.c_str());
        appendInt(insert.get(), static_cast<int32_t>(text.size()));
    }
    return act(ref, std::move(insert));
}

}  // namespace pelko::computer::linux_desktop
