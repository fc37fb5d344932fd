// What pelko-phone writes outside the framed stream: diagnostic lines and JSON lines.
#pragma once

#include <string_view>

#include "json-line.h"

namespace pelko::phone {

/// Writes "pelko-phone: ", the message and a line feed to `fd` as one write. Any thread.
void log(int fd, std::string_view message);

/// Writes `object` as compact JSON to `fd`, then a line feed in a second write. Writes nothing
/// when the object cannot be serialised.
void printJSONLine(int fd, const JSON& object);

}  // namespace pelko::phone
