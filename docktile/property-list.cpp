#include "property-list.h"

#include <plist/plist.h>

#include <cstdlib>
#include <fstream>
#include <memory>

namespace pelko::docktile {

namespace {

struct PlistFree {
    void operator()(plist_t node) const { plist_free(node); }
};
using PlistPtr = std::unique_ptr<void, PlistFree>;

struct CharFree {
    void operator()(char* text) const { std::free(text); }
};

PropertyValue valueOf(plist_t node) {
    switch (plist_get_node_type(node)) {
        case PLIST_STRING: {
            char* raw = nullptr;
            plist_get_string_val(node, &raw);
            std::unique_ptr<char, CharFree> text(raw);
            return PropertyValue::string(text ? text.get() : "");
        }
        case PLIST_UINT: {
            uint64_t value = 0;
            plist_get_uint_val(node, &value);
            // Property lists store signed integers; libplist hands them over as unsigned.
            return PropertyValue::number(static_cast<int64_t>(value));
        }
        case PLIST_REAL: {
            double value = 0;
            plist_get_real_val(node, &value);
            return PropertyValue::fraction(value);
        }
        case PLIST_BOOLEAN: {
            uint8_t value = 0;
            plist_get_bool_val(node, &value);
            return PropertyValue::flag(value != 0);
        }
        case PLIST_DATE:
            return PropertyValue::of(PropertyValue::Kind::date);
        case PLIST_ARRAY:
            return PropertyValue::of(PropertyValue::Kind::array);
        case PLIST_DICT:
            return PropertyValue::of(PropertyValue::Kind::dictionary);
        default:  // data, and the keyed-archive identifiers that only archives hold
            return PropertyValue::of(PropertyValue::Kind::data);
    }
}

plist_t nodeOf(const PropertyValue& value) {
    using Kind = PropertyValue::Kind;
    switch (value.kind) {
        case Kind::string:
            return plist_new_string(value.text.c_str());
        case Kind::integer:
            return plist_new_uint(static_cast<uint64_t>(value.integer));
        case Kind::real:
            return plist_new_real(value.real);
        case Kind::boolean:
            return plist_new_bool(value.boolean ? 1 : 0);
        case Kind::date:
            return plist_new_date(0, 0);
        case Kind::data:
            return plist_new_data("", 0);
        case Kind::array:
            return plist_new_array();
        case Kind::dictionary:
            return plist_new_dict();
    }
    return plist_new_dict();
}

PlistPtr dictionaryNode(const PropertyDictionary& dictionary) {
    PlistPtr root(plist_new_dict());
    for (const auto& [key, value] : dictionary)
        plist_dict_set_item(root.get(), key.c_str(), nodeOf(value));
    return root;
}

}  // namespace

std::optional<PropertyDictionary> parsePropertyListDictionary(std::string_view bytes) {
    if (bytes.empty() || bytes.size() > maxPropertyListBytes) return std::nullopt;
    plist_t raw = nullptr;
    plist_from_memory(bytes.data(), static_cast<uint32_t>(bytes.size()), &raw);
    PlistPtr root(raw);
    if (!root || plist_get_node_type(root.get()) != PLIST_DICT) return std::nullopt;
    PropertyDictionary dictionary;
    plist_dict_iter iterator = nullptr;
    plist_dict_new_iter(root.get(), &iterator);
    if (!iterator) return dictionary;
    for (;;) {
        char* rawKey = nullptr;
        plist_t item = nullptr;
        plist_dict_next_item(root.get(), iterator, &rawKey, &item);
        std::unique_ptr<char, CharFree> key(rawKey);
        if (!item) break;
        if (key) dictionary[key.get()] = valueOf(item);
    }
    std::free(iterator);
    return dictionary;
}

std::optional<PropertyDictionary> readPropertyListDictionary(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) return std::nullopt;
    std::string bytes;
    char buffer[16384];
    while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
        bytes.append(buffer, static_cast<size_t>(in.gcount()));
        if (bytes.size() > maxPropertyListBytes) return std::nullopt;
    }
    return parsePropertyListDictionary(bytes);
}

namespace {

using Writer = void (*)(plist_t, char**, uint32_t*);
using Release = void (*)(char*);

std::string serialised(plist_t root, Writer write, Release release) {
    char* raw = nullptr;
    uint32_t length = 0;
    write(root, &raw, &length);
    std::string bytes(raw ? raw : "", raw ? length : 0);
    release(raw);
    return bytes;
}

}  // namespace

std::string xmlPropertyList(const PropertyDictionary& dictionary) {
    return serialised(dictionaryNode(dictionary).get(), plist_to_xml, plist_to_xml_free);
}

std::string binaryPropertyList(const PropertyDictionary& dictionary) {
    return serialised(dictionaryNode(dictionary).get(), plist_to_bin, plist_to_bin_free);
}

std::optional<std::string> xmlPropertyListSetting(std::string_view bytes, const std::string& key,
                                                  const PropertyValue& value) {
    if (bytes.size() > maxPropertyListBytes) return std::nullopt;
    PlistPtr root;
    if (!bytes.empty()) {
        plist_t raw = nullptr;
        plist_from_memory(bytes.data(), static_cast<uint32_t>(bytes.size()), &raw);
        root.reset(raw);
    }
    if (!root || plist_get_node_type(root.get()) != PLIST_DICT) root.reset(plist_new_dict());
    plist_dict_set_item(root.get(), key.c_str(), nodeOf(value));
    return serialised(root.get(), plist_to_xml, plist_to_xml_free);
}

}  // namespace pelko::docktile
