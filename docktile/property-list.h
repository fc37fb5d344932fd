// Property lists (XML or binary) read and written with libplist.
#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "platform/property-value.h"

namespace pelko::docktile {

/// Property-list files larger than this are not read: an information property list or a
/// preferences file is a few kilobytes, and the parser takes at most 4 GiB.
inline constexpr std::size_t maxPropertyListBytes = 16 << 20;

/// The dictionary at the top of a property list in XML or binary form; nothing when `bytes`
/// is not a property list, its top is not a dictionary, or it is larger than
/// `maxPropertyListBytes`.
std::optional<PropertyDictionary> parsePropertyListDictionary(std::string_view bytes);

/// `parsePropertyListDictionary` of a file's content; nothing when the file cannot be read.
std::optional<PropertyDictionary> readPropertyListDictionary(const std::filesystem::path& file);

/// `dictionary` as an XML property list. Dates, data, arrays and dictionaries are written
/// empty, since only their kind is known.
std::string xmlPropertyList(const PropertyDictionary& dictionary);

/// `dictionary` as a binary property list.
std::string binaryPropertyList(const PropertyDictionary& dictionary);

/// The XML property list of the dictionary in `bytes` with `value` stored under `key`. Every
/// other entry is kept as it was, the contents of arrays and dictionaries included; bytes that
/// hold no dictionary are replaced by one. Nothing when `bytes` is larger than
/// `maxPropertyListBytes`, since it could not be read to keep its entries.
std::optional<std::string> xmlPropertyListSetting(std::string_view bytes, const std::string& key,
                                                  const PropertyValue& value);

}  // namespace pelko::docktile
