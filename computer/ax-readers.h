// Reading accessibility elements: the readers through which every attribute is read (none of
// them throws; every platform error reads as "nothing"), and the action names as labels.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/accessibility.h"

namespace pelko::computer {

/// The attribute's value, or nothing when the copy reports any error.
std::optional<Value> attr(Accessibility& ax, const Element& element, const std::string& name);
/// A string attribute with at least one character; "" and other types read as nothing.
std::optional<std::string> str(Accessibility& ax, const Element& element, const std::string& name);
/// A boolean attribute (a number 0 or 1 counts as false or true); nothing otherwise.
std::optional<bool> boolAttr(Accessibility& ax, const Element& element, const std::string& name);
/// "AXChildren" when it is a list of elements, else an empty list.
std::vector<Element> children(Accessibility& ax, const Element& element);
/// The frame from "AXPosition" (a point) and "AXSize" (a size), in global screen points with
/// y growing downwards; nothing when either is missing or of another type.
std::optional<Rect> frameOf(Accessibility& ax, const Element& element);
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
