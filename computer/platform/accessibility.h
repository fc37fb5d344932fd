// The accessibility seam, shaped on the platform's own model: opaque element handles,
// attributes and actions by name, a settable test, element equality and error numbers.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>
#include <variant>
#include <vector>

namespace pelko::computer {

// Error numbers of the accessibility API.
constexpr int axSuccess = 0;
constexpr int axFailure = -25200;
constexpr int axIllegalArgument = -25201;
constexpr int axInvalidElement = -25202;
constexpr int axCannotComplete = -25204;
constexpr int axAttributeUnsupported = -25205;
constexpr int axActionUnsupported = -25206;
constexpr int axNoValue = -25212;

/// What a backend keeps behind an element handle. Backends derive from it.
class ElementHandle {
  public:
    virtual ~ElementHandle() = default;
};

/// An opaque, reference-counted handle to a user-interface object of another process. Copies
/// share the object; an empty handle is "no element". Compare with `Accessibility::isEqual`,
/// never by pointer.
using Element = std::shared_ptr<const ElementHandle>;

struct Point {
    double x = 0, y = 0;
    bool operator==(const Point&) const = default;
};
struct Size {
    double width = 0, height = 0;
    bool operator==(const Size&) const = default;
};
struct Rect {
    Point origin;
    Size size;
    bool operator==(const Rect&) const = default;
    double minX() const { return origin.x; }
    double minY() const { return origin.y; }
    double maxX() const { return origin.x + size.width; }
    double maxY() const { return origin.y + size.height; }
    /// Whether `point` lies inside: the left and top edges belong to the rectangle, the right
    /// and bottom edges do not.
    bool contains(Point point) const {
        return point.x >= minX() && point.x < maxX() && point.y >= minY() && point.y < maxY();
    }
    /// Whether the two rectangles share some area.
    bool intersects(const Rect& other) const {
        return minX() < other.maxX() && other.minX() < maxX() && minY() < other.maxY() &&
               other.minY() < maxY();
    }
};

/// An attribute's value: nothing, text, boolean, integer, fraction, point, size, rectangle,
/// element or a list of values.
struct Value {
    using List = std::vector<Value>;
    std::variant<std::monostate, std::string, bool, int64_t, double, Point, Size, Rect, Element,
                 List>
        data;

    Value() = default;
    template <typename T>
    requires(!std::is_same_v<std::decay_t<T>, Value>) Value(T value) : data(std::move(value)) {}
    Value(const char* text) : data(std::string(text)) {}
    Value(int number) : data(int64_t{number}) {}

    template <typename T>
    const T* as() const {
        return std::get_if<T>(&data);
    }
    bool isNothing() const { return std::holds_alternative<std::monostate>(data); }
};

/// The outcome of copying one attribute: an error number (`axSuccess` when it worked) and the
/// value (nothing unless it worked).
struct AttributeRead {
    int error = axSuccess;
    Value value;
};

class Accessibility {
  public:
    virtual ~Accessibility() = default;

    /// Whether this process is trusted for accessibility control. Never prompts.
    virtual bool isTrusted() = 0;
    /// Asks the user to grant trust (the system prompt), then reports trust as it now stands.
    virtual bool isTrustedWithPrompt() = 0;

    /// The application element of a process (it need not be valid).
    virtual Element applicationElement(pid_t pid) = 0;
    /// The system-wide element.
    virtual Element systemWideElement() = 0;

    /// Copies one attribute's value.
    virtual AttributeRead copyAttribute(const Element& element, const std::string& name) = 0;
    /// Copies several attributes of one element in one round trip; one read per name, in order.
    virtual std::vector<AttributeRead> copyAttributes(const Element& element,
                                                      const std::vector<std::string>& names) = 0;
    /// Whether an attribute can be set; nothing when the element cannot say.
    virtual std::optional<bool> isSettable(const Element& element, const std::string& name) = 0;
    /// Sets an attribute; returns an error number.
    virtual int setAttribute(const Element& element, const std::string& name,
                             const Value& value) = 0;
    /// The element's action names in the element's order; nothing on failure.
    virtual std::optional<std::vector<std::string>> actionNames(const Element& element) = 0;
    /// Performs a named action; returns an error number.
    virtual int performAction(const Element& element, const std::string& action) = 0;
    /// The platform's element equality (false when either is empty).
    virtual bool isEqual(const Element& a, const Element& b) = 0;
    /// The process the element belongs to; nothing on failure.
    virtual std::optional<pid_t> processId(const Element& element) = 0;
    /// How long calls on this element (an application element: on every element of that app)
    /// wait for the app to answer; returns an error number.
    virtual int setMessagingTimeout(const Element& element, double seconds) = 0;
};

}  // namespace pelko::computer
