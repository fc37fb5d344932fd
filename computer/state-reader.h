// The app state reader: how the agent looks at an app. It resolves (and may open) the app,
// picks a window, writes its outline with numbered elements, and records in the app's session
// which window was read and which elements the indexes name. It flips the switches that make
// web-based apps build their accessibility tree, and lets the agent open a folded part of a dense
// window on its own ("region") and see it again next to the overview ("again").
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>

#include "json-line.h"
#include "platform/platform.h"

namespace pelko::computer {

struct Computer;

/// The application element's messaging time-out while its state is read.
constexpr double stateMessagingTimeoutSeconds = 2.0;
/// An outline with fewer numbered elements than this looks as if the app built no tree yet.
constexpr size_t smallOutlineElements = 15;
/// How long to wait once for a page to build its tree.
constexpr Duration pageWait = seconds(1.2);
/// How many elements the search for an empty web area examines.
constexpr int webAreaSearchLimit = 300;
/// The default character budget of an outline.
constexpr int64_t defaultMaxChars = 12000;

/// The window whose title contains `title` (letter case ignored); else, or when none matches,
/// the focused window, the main window or the first window; nothing when the app has none.
Element pickWindow(Accessibility& ax, const Element& appElement,
                   const std::optional<std::string>& title);

/// Whether the first web area found breadth first from `root` (itself first, at most 300
/// elements examined) has no children.
bool hasEmptyWebArea(Accessibility& ax, const Element& root);

/// Writes the element numbered `index` in full, numbering on from the session's next index, and
/// adds its outline and window keys to `result`. Throws the "stale" failures.
JSON readRegion(Computer& computer, const RunningApp& app, int64_t index, int64_t maxChars,
                JSON result);

/// The whole state read behind the "state" method. Throws "accessibility", the failures of
/// `resolveApp` and, for a region, "stale".
JSON readState(Computer& computer, const std::string& name,
               const std::optional<std::string>& window, int64_t maxChars, bool launch,
               std::optional<int64_t> region, bool again);

/// The "state" method.
JSON state(Computer& computer, const JSON& params);

}  // namespace pelko::computer
