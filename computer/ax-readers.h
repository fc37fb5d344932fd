// Reading accessibility elements: the readers through which every attribute is read (none of
// them throws; every platform error reads as "nothing"), and the action names as labels.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/accessibility.h"

namespace pelko::computer {

// Each reader comes in two forms with the same rules: on one element (one round trip; none for
// an empty handle, which reads as nothing), and on a read already fetched, with others of the
// same element, by `Accessibility::copyAttributes`.

/// The value of a read that worked; null for any error.
const Value* valueOf(const AttributeRead& read);
/// The attribute's value, or nothing when the copy reports any error.
std::optional<Value> attr(Accessibility& ax, const Element& element, const std::string& name);

/// Text with at least one character; "" and other types read as nothing.
std::optional<std::string> str(const AttributeRead& read);
std::optional<std::string> str(Accessibility& ax, const Element& element, const std::string& name);

/// A boolean (a number 0 or 1 counts as false or true); nothing otherwise.
std::optional<bool> boolAttr(const AttributeRead& read);
std::optional<bool> boolAttr(Accessibility& ax, const Element& element, const std::string& name);

/// One element; an empty handle for anything else.
Element elementAttr(const AttributeRead& read);
Element elementAttr(Accessibility& ax, const Element& element, const std::string& name);

/// A list made only of elements; an empty list for anything else, a list holding any other
/// value included.
std::vector<Element> elementsOf(const AttributeRead& read);
/// "AXChildren", read by the rule of `elementsOf`.
std::vector<Element> children(Accessibility& ax, const Element& element);
/// The elements of a list attribute, other items passed over (the lenient rule for lists such
/// as "AXWindows", where one odd item must not hide the others); empty when it is no list.
std::vector<Element> elementList(Accessibility& ax, const Element& element,
                                 const std::string& name);

/// The frame from "AXPosition" (a point) and "AXSize" (a size), in global screen points with
/// y growing downwards; nothing when either is missing or of another type.
std::optional<Rect> frameOf(const AttributeRead& position, const AttributeRead& size);
std::optional<Rect> frameOf(Accessibility& ax, const Element& element);

/// Whether the platform says the element no longer exists: one probe (its role) answering
/// -25202. An empty handle counts as gone.
bool isGone(Accessibility& ax, const Element& element);

/// The element's action names in its order; empty on failure.
std::vector<std::string> actionsOf(Accessibility& ax, const Element& element);
/// The label the agent sees for a platform action name: "AXShowMenu" → "showMenu", a custom
/// "Name:Copy link\nTarget:…" → "Copy link", anything else unchanged.
std::string actionLabel(std::string_view action);
/// Whether `action` is the one the agent named; `wanted` is already lower-cased with its spaces
/// removed.
bool matchesAction(std::string_view action, std::string_view wanted);
/// The platform's element equality; false when either is absent.
bool isSame(Accessibility& ax, const Element& a, const Element& b);

}  // namespace pelko::computer
