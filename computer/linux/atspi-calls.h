// The AT-SPI calls the accessibility part sends and the replies it reads: method and property
// calls on one object, and readers for the shapes AT-SPI answers with (lists of references,
// extents, attribute maps), plus the seam's error number for a failed answer.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "atspi-client.h"
#include "platform/accessibility.h"

namespace pelko::computer::linux_desktop {

constexpr const char* propertiesInterface = "org.freedesktop.DBus.Properties";
/// The path of every application's root object.
extern const std::string rootPath;

/// A method call on the object `ref`.
MessagePtr objectCall(const ObjectRef& ref, const char* interface, const char* method);
/// "org.freedesktop.DBus.Properties.Get" of one property of the object.
MessagePtr propertyGet(const ObjectRef& ref, const char* interface, const char* property);

void appendString(DBusMessage* message, const char* text);
void appendInt(DBusMessage* message, dbus_int32_t value);
void appendUint(DBusMessage* message, dbus_uint32_t value);

/// The collection interface's "GetMatches" on the object `ref` for its children whose states
/// include "showing", in the order they are shown.
MessagePtr showingChildren(const ObjectRef& ref);

/// Puts `iter` at the first argument of a reply; false for an error or an empty reply.
bool firstArgument(const CallResult& result, DBusMessageIter& iter);
/// An "a(so)" list of references; nothing when the iterator is not at an array.
std::optional<std::vector<ObjectRef>> readRefs(DBusMessageIter& iter);
/// The largest distance from the screens' origin, and the largest size, that extents may have:
/// no desktop is that large, so larger ones are an app's nonsense (a click at their middle would
/// land wherever the numbers wrap to).
constexpr int64_t maxCoordinate = 1 << 20;
/// An "(iiii)" rectangle; nothing when a number lies beyond `maxCoordinate`.
std::optional<Rect> readExtents(DBusMessageIter& iter);
/// An "a{ss}" map; entries of another shape are skipped.
std::map<std::string, std::string> readStringMap(DBusMessageIter& iter);

/// The length of UTF-8 text in UTF-16 units, as the platform counts characters.
int64_t utf16Length(std::string_view text);

/// The seam's error number of an answer: success, an invalid element when the object or its
/// application is gone, else "cannot complete".
int errorOf(const CallResult& result);

}  // namespace pelko::computer::linux_desktop
