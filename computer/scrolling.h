// Scrolling an app's content. For an app in the background the content is moved through the
// accessibility interface (a scroll bar's value stepped, or an element just outside the visible
// part asked to scroll itself into view); only when that cannot work, or the caller sets
// `front`, is the app brought forward and a real scroll-wheel event posted.
#pragma once

#include <cstdint>
#include <string>

#include "json-line.h"
#include "platform/platform.h"

namespace pelko::computer {

struct Computer;

/// One step of `amount` in the background: one line, in points.
constexpr double scrollLine = 18;
/// The most lines one request scrolls.
constexpr int64_t maxScrollLines = 50;
/// How many ancestors (the starting element included) are searched for a scroll area, how many
/// elements of the window, and how many inside the area for one to scroll into view.
constexpr int scrollAreaClimb = 12;
constexpr int scrollAreaSearchLimit = 400;
constexpr int scrollTargetSearchLimit = 1500;

/// What scrolling in the background came to: the content moved; a scroll area was found but
/// did not move (it is at its end); or there is no way without the pointer.
enum class BehindScroll { moved, nothing, cannot };

/// Moves the pointer to `point`, posts one scroll-wheel event of `amount` lines (held to 1..50)
/// in `direction` ("up", "down", "left", "right"; any other word scrolls nowhere) and puts the
/// pointer back.
void scrollAt(Platform& platform, Point point, const std::string& direction, int64_t amount);

/// Scrolls the app's content through the accessibility interface, starting the search for the
/// scroll area at `from` (may be empty). "up" and "down" scroll vertically, "right" and any
/// other word horizontally ("right" toward the end).
BehindScroll scrollBehind(Computer& computer, const RunningApp& app, const Element& from,
                          const std::string& direction, int64_t amount);

/// The "scroll" method: {"via": "behind"}, {"via": "behind", "moved": false} or
/// {"via": "wheel", "front": bool}.
JSON scroll(Computer& computer, const JSON& params);

}  // namespace pelko::computer
