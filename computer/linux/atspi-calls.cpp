#include "atspi-calls.h"

#include <atspi/atspi-constants.h>

#include "utf8.h"

namespace pelko::computer::linux_desktop {

const std::string rootPath = ATSPI_DBUS_PATH_ROOT;

MessagePtr objectCall(const ObjectRef& ref, const char* interface, const char* method) {
    return methodCall(ref.name, ref.path, interface, method);
}

void appendString(DBusMessage* message, const char* text) {
    dbus_message_append_args(message, DBUS_TYPE_STRING, &text, DBUS_TYPE_INVALID);
}

void appendInt(DBusMessage* message, dbus_int32_t value) {
    dbus_message_append_args(message, DBUS_TYPE_INT32, &value, DBUS_TYPE_INVALID);
}

void appendUint(DBusMessage* message, dbus_uint32_t value) {
    dbus_message_append_args(message, DBUS_TYPE_UINT32, &value, DBUS_TYPE_INVALID);
}

MessagePtr propertyGet(const ObjectRef& ref, const char* interface, const char* property) {
    auto message = objectCall(ref, propertiesInterface, "Get");
    if (message) {
        appendString(message.get(), interface);
        appendString(message.get(), property);
    }
    return message;
}

bool firstArgument(const CallResult& result, DBusMessageIter& iter) {
    return result.ok() && dbus_message_iter_init(result.reply.get(), &iter);
}

std::optional<std::vector<ObjectRef>> readRefs(DBusMessageIter& iter) {
    if (dbus_message_iter_get_arg_type(&iter) != DBUS_TYPE_ARRAY) return std::nullopt;
    DBusMessageIter array;
    dbus_message_iter_recurse(&iter, &array);
    std::vector<ObjectRef> refs;
    for (std::optional<ObjectRef> ref;
         refs.size() < maxListed && (ref = readObjectRef(array)).has_value();) {
        refs.push_back(std::move(*ref));
        if (!dbus_message_iter_next(&array)) break;
    }
    return refs;
}

std::optional<Rect> readExtents(DBusMessageIter& iter) {
    if (dbus_message_iter_get_arg_type(&iter) != DBUS_TYPE_STRUCT) return std::nullopt;
    DBusMessageIter field;
    dbus_message_iter_recurse(&iter, &field);
    int64_t numbers[4];
    for (int i = 0; i < 4; ++i) {
        const auto number = readInteger(field);
        if (!number || *number > maxCoordinate || *number < -maxCoordinate) return std::nullopt;
        numbers[i] = *number;
        dbus_message_iter_next(&field);
    }
    return Rect{{static_cast<double>(numbers[0]), static_cast<double>(numbers[1])},
                {static_cast<double>(numbers[2]), static_cast<double>(numbers[3])}};
}

std::map<std::string, std::string> readStringMap(DBusMessageIter& iter) {
    std::map<std::string, std::string> entries;
    if (dbus_message_iter_get_arg_type(&iter) != DBUS_TYPE_ARRAY) return entries;
    DBusMessageIter array;
    dbus_message_iter_recurse(&iter, &array);
    for (size_t read = 0;
         dbus_message_iter_get_arg_type(&array) == DBUS_TYPE_DICT_ENTRY && read < maxListed;
         ++read) {
        DBusMessageIter entry;
        dbus_message_iter_recurse(&array, &entry);
        auto key = readString(entry);
        dbus_message_iter_next(&entry);
        auto value = readString(entry);
        if (key && value) entries[*key] = *value;
        dbus_message_iter_next(&array);
    }
    return entries;
}

int64_t utf16Length(std::string_view text) {
    int64_t units = 0;
    for (const CodePoint& codePoint : CodePoints(text)) units += codePoint.value > 0xFFFF ? 2 : 1;
    return units;
}

int errorOf(const CallResult& result) {
    if (result.ok()) return axSuccess;
    if (meansGone(result.errorName)) return axInvalidElement;
    return axCannotComplete;
}

}  // namespace pelko::computer::linux_desktop
