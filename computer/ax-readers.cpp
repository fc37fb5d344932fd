#include "ax-readers.h"

#include <algorithm>

#include "text.h"

namespace pelko::computer {
namespace {

// Lower-cased as the agent's own text is (every letter, not only ASCII), spaces removed.
std::string lowerWithoutSpaces(std::string_view text) {
    std::string out = lowerCased(text);
    std::erase(out, ' ');
    return out;
}

std::string lower(std::string_view text) {
    return lowerCased(text);
}

// The byte length of the UTF-8 character that `text` begins with (1 for a stray byte).
size_t firstCharacterLength(std::string_view text) {
    const auto lead = static_cast<unsigned char>(text.front());
    const size_t length = lead < 0xC0 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    return std::min(length, text.size());
}

// One attribute of one element; an empty handle is not asked about.
AttributeRead readOne(Accessibility& ax, const Element& element, const std::string& name) {
    if (!element) return {axIllegalArgument, {}};
    return ax.copyAttribute(element, name);
}

}  // namespace

const Value* valueOf(const AttributeRead& read) {
    return read.error == axSuccess ? &read.value : nullptr;
}

std::optional<Value> attr(Accessibility& ax, const Element& element, const std::string& name) {
    AttributeRead read = readOne(ax, element, name);
    if (read.error != axSuccess) return std::nullopt;
    return std::move(read.value);
}

std::optional<std::string> str(const AttributeRead& read) {
    const Value* value = valueOf(read);
    const auto* text = value ? value->as<std::string>() : nullptr;
    if (!text || text->empty()) return std::nullopt;
    return *text;
}

std::optional<std::string> str(Accessibility& ax, const Element& element, const std::string& name) {
    return str(readOne(ax, element, name));
}

std::optional<bool> boolAttr(const AttributeRead& read) {
    const Value* value = valueOf(read);
    if (!value) return std::nullopt;
    if (const auto* flag = value->as<bool>()) return *flag;
    if (const auto* number = value->as<int64_t>()) {
        if (*number == 0 || *number == 1) return *number == 1;
    }
    if (const auto* number = value->as<double>()) {
        if (*number == 0 || *number == 1) return *number == 1;
    }
    return std::nullopt;
}

std::optional<bool> boolAttr(Accessibility& ax, const Element& element, const std::string& name) {
    return boolAttr(readOne(ax, element, name));
}

Element elementAttr(const AttributeRead& read) {
    const Value* value = valueOf(read);
    const auto* one = value ? value->as<Element>() : nullptr;
    return one ? *one : Element();
}

Element elementAttr(Accessibility& ax, const Element& element, const std::string& name) {
    return elementAttr(readOne(ax, element, name));
}

std::vector<Element> elementsOf(const AttributeRead& read) {
    const Value* value = valueOf(read);
    const auto* list = value ? value->as<Value::List>() : nullptr;
    if (!list) return {};
    std::vector<Element> elements;
    elements.reserve(list->size());
    for (const auto& item : *list) {
        const auto* element = item.as<Element>();
        if (!element) return {};  // not a list of elements
        elements.push_back(*element);
    }
    return elements;
}

std::vector<Element> children(Accessibility& ax, const Element& element) {
    return elementsOf(readOne(ax, element, "AXChildren"));
}

std::vector<Element> elementList(Accessibility& ax, const Element& element,
                                 const std::string& name) {
    const AttributeRead read = readOne(ax, element, name);
    const Value* value = valueOf(read);
    const auto* list = value ? value->as<Value::List>() : nullptr;
    if (!list) return {};
    std::vector<Element> elements;
    for (const auto& item : *list) {
        if (const auto* one = item.as<Element>()) elements.push_back(*one);
    }
    return elements;
}

std::optional<Rect> frameOf(const AttributeRead& position, const AttributeRead& size) {
    const Value* origin = valueOf(position);
    const Value* extent = valueOf(size);
    const auto* point = origin ? origin->as<Point>() : nullptr;
    const auto* dimensions = extent ? extent->as<Size>() : nullptr;
    if (!point || !dimensions) return std::nullopt;
    return Rect{*point, *dimensions};
}

std::optional<Rect> frameOf(Accessibility& ax, const Element& element) {
    // The size is asked for only when the position is there.
    const AttributeRead position = readOne(ax, element, "AXPosition");
    const Value* origin = valueOf(position);
    if (!origin || !origin->as<Point>()) return std::nullopt;
    return frameOf(position, readOne(ax, element, "AXSize"));
}

bool isGone(Accessibility& ax, const Element& element) {
    return !element || ax.copyAttribute(element, "AXRole").error == axInvalidElement;
}

std::vector<std::string> actionsOf(Accessibility& ax, const Element& element) {
    if (!element) return {};
    return ax.actionNames(element).value_or(std::vector<std::string>{});
}

std::string actionLabel(std::string_view action) {
    if (action.starts_with("AX")) {
        const std::string_view rest = action.substr(2);
        if (rest.empty()) return "";
        const size_t first = firstCharacterLength(rest);
        return lowerCased(rest.substr(0, first)) + std::string(rest.substr(first));
    }
    if (action.starts_with("Name:")) {
        // Custom actions describe themselves over several lines; the first non-empty line names
        // them.
        size_t start = 0;
        while (start <= action.size()) {
            size_t end = action.find('\n', start);
            if (end == std::string_view::npos) end = action.size();
            if (end > start) {
                const std::string_view line = action.substr(start, end - start);
                return std::string(line.size() > 5 ? line.substr(5) : std::string_view());
            }
            start = end + 1;
        }
        return "";
    }
    return std::string(action);
}

bool matchesAction(std::string_view action, std::string_view wanted) {
    if (lowerWithoutSpaces(actionLabel(action)) == wanted) return true;
    const std::string name = lower(action);
    return name == wanted || name == "ax" + std::string(wanted);
}

bool isSame(Accessibility& ax, const Element& a, const Element& b) {
    return a && b && ax.isEqual(a, b);
}

}  // namespace pelko::computer
