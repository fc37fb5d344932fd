// Putting text and key presses into an app while leaving the user's frontmost app alone where
// possible: text goes in through the accessibility interface when the field accepts it, or as
// key events sent to the app's process only; the app comes forward and keys are posted at the
// system level only when nothing else works or the caller asks for it (`front`).
#pragma once

#include <optional>
#include <string>

#include "json-line.h"
#include "platform/platform.h"

namespace pelko::computer {

struct Computer;

/// How many times typed text sent to an app in the background is looked for in its field, and
/// how long apart.
constexpr int landedChecks = 12;
constexpr Duration betweenLandedChecks = std::chrono::milliseconds(100);
/// After bringing the app forward and focusing the field, before typing; and after typing,
/// before looking at the field again.
constexpr Duration beforeFrontTyping = std::chrono::milliseconds(120);
constexpr Duration afterFrontTyping = std::chrono::milliseconds(150);

/// An element's "AXValue" when it is text, the empty text included; nothing otherwise.
std::optional<std::string> textValue(Accessibility& ax, const Element& element);

/// The "typeText" method: {"via": "insert"}, {"via": "keysBehind"} (with "landed": false when
/// the field did not change) or {"via": "keys", "front": bool} (with "landed": false when the
/// field visibly did not change). Password fields are typed into only in front.
JSON typeText(Computer& computer, const JSON& params);

/// The "pressKey" method: {"via": "behind"} when the combination went to the app's process in
/// the background, {"via": "front", "front": bool} when it was posted with the app in front.
JSON pressKey(Computer& computer, const JSON& params);

}  // namespace pelko::computer
