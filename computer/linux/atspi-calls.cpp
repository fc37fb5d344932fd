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

MessagePtr showingChildren(const ObjectRef& ref) {
    auto message = objectCall(ref, ATSPI_DBUS_INTERFACE_COLLECTION, "GetMatches");
    if (!message) return message;
    // The rule "(aiia{ss}iaiiasib)": the "showing" state as two words of bits, all of which
    // must match; the attributes, roles and interfaces (none of them asked), and no inversion;
    // then the order, no limit on the count, and the children only (no deeper).
    auto appendEmpty = [](DBusMessageIter& into, const char* signature) {
        DBusMessageIter array;
        dbus_message_iter_open_container(&into, DBUS_TYPE_ARRAY, signature, &array);
        dbus_message_iter_close_container(&into, &array);
    };
    const StateSet states = StateSet{1} << ATSPI_STATE_SHOWING;
    const dbus_int32_t stateWords[] = {static_cast<dbus_int32_t>(states & 0xFFFFFFFF),
                                       static_cast<dbus_int32_t>(states >> 32)};
    const dbus_int32_t all = ATSPI_Collection_MATCH_ALL, none = ATSPI_Collection_MATCH_NONE;
    const dbus_bool_t invert = false;
    DBusMessageIter args, rule, words;
    dbus_message_iter_init_append(message.get(), &args);
    dbus_message_iter_open_container(&args, DBUS_TYPE_STRUCT, nullptr, &rule);
    dbus_message_iter_open_container(&rule, DBUS_TYPE_ARRAY, "i", &words);
    for (const dbus_int32_t word : stateWords)
        dbus_message_iter_append_basic(&words, DBUS_TYPE_INT32, &word);
    dbus_message_iter_close_container(&rule, &words);
    dbus_message_iter_append_basic(&rule, DBUS_TYPE_INT32, &all);
    appendEmpty(rule, "{ss}");
    dbus_message_iter_append_basic(&rule, DBUS_TYPE_INT32, &none);
    appendEmpty(rule, "i");
    dbus_message_iter_append_basic(&rule, DBUS_TYPE_INT32, &none);
    appendEmpty(rule, "s");
    dbus_message_iter_append_basic(&rule, DBUS_TYPE_INT32, &none);
    dbus_message_iter_append_basic(&rule, DBUS_TYPE_BOOLEAN, &invert);
    dbus_message_iter_close_container(&args, &rule);
    const dbus_uint32_t order = ATSPI_Collection_SORT_ORDER_CANONICAL;
    const dbus_int32_t limit = 0;
    const dbus_bool_t below = false;
    dbus_message_iter_append_basic(&args, DBUS_TYPE_UINT32, &order);
    dbus_message_iter_append_basic(&args, DBUS_TYPE_INT32, &limit);
    dbus_message_iter_append_basic(&args, DBUS_TYPE_BOOLEAN, &below);
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
