// Acting on one element of an app, or on a point in its window: pressing and clicking, writing
// a value, performing a named action. The accessibility interface comes first, so that the app
// may stay in the background and the user's pointer stays put; a real pointer click is the last
// resort, or what the caller asked for (another button, several clicks, `front`).
#pragma once

#include <set>
#include <string>

#include "json-line.h"
#include "platform/platform.h"

namespace pelko::computer {

struct Computer;

/// Roles from which a press may climb to an ancestor that can be pressed.
extern const std::set<std::string> climbingRoles;
/// Roles that take keyboard focus without a click.
extern const std::set<std::string> textLikeRoles;

/// The element itself when it offers "AXPress"; else, for an element whose role is in
/// `climbingRoles`, the nearest of its three closest ancestors that offers it, never climbing
/// into a window, the app or a whole web page. Empty when there is none.
Element pressable(Accessibility& ax, const Element& element);

/// The smallest element of the app's latest read whose frame (with a positive width and height)
/// contains `point`; empty when none does or the app was never read.
Element elementAt(Computer& computer, const RunningApp& app, Point point);

/// The middle of `rect`.
Point center(const Rect& rect);

/// The "click" method: an element by index or a point in the window, pressed through the
/// accessibility interface when a simple click allows, else clicked with the pointer.
/// {"via": "press" | "pressParent" | "pressAtPoint" | "focus" | "showMenu" | "pointer", ...}.
JSON click(Computer& computer, const JSON& params);

/// The "setValue" method: writes a text into the element's value; {"ok": true}.
JSON setValue(Computer& computer, const JSON& params);

/// The "action" method: performs the element's action that the agent names; {"ok": true}.
JSON action(Computer& computer, const JSON& params);

}  // namespace pelko::computer
