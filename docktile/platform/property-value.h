// Values of property lists: what a preference holds and what a notification's user info carries.
#pragma once

#include <cstdint>
#include <map>
#include <string>

namespace pelko::docktile {

/// One property-list value. Strings, numbers and booleans keep their content; dates, data,
/// arrays and dictionaries keep only their kind, which is all the plug-in needs of them.
struct PropertyValue {
    enum class Kind { string, integer, real, boolean, date, data, array, dictionary };
    Kind kind = Kind::string;
    std::string text;      ///< the characters of a string
    int64_t integer = 0;   ///< the value of an integer
    double real = 0;       ///< the value of a real
    bool boolean = false;  ///< the value of a boolean

    static PropertyValue string(std::string text) {
        PropertyValue value;
        value.text = std::move(text);
        return value;
    }
    static PropertyValue number(int64_t integer) {
        PropertyValue value = of(Kind::integer);
        value.integer = integer;
        return value;
    }
    static PropertyValue fraction(double real) {
        PropertyValue value = of(Kind::real);
        value.real = real;
        return value;
    }
    static PropertyValue flag(bool boolean) {
        PropertyValue value = of(Kind::boolean);
        value.boolean = boolean;
        return value;
    }
    /// A value of `kind` without content (a date, data, an array or a dictionary).
    static PropertyValue of(Kind kind) {
        PropertyValue value;
        value.kind = kind;
        return value;
    }

    bool isString() const { return kind == Kind::string; }
    bool operator==(const PropertyValue&) const = default;
};

/// A dictionary of property-list values by key.
using PropertyDictionary = std::map<std::string, PropertyValue>;

}  // namespace pelko::docktile
