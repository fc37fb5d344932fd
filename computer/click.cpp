#include "click.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "apps.h"
#include "ax-readers.h"
#include "computer.h"
#include "input-events.h"
#include "method.h"

namespace pelko::computer {

const std::set<std::string> climbingRoles = {"AXStaticText", "AXImage", "AXCell", "AXGroup",
                                             "AXUnknown"};
const std::set<std::string> textLikeRoles = {"AXTextField", "AXTextArea", "AXComboBox",
                                             "AXSearchField"};

namespace {

// The starting element and at most this many ancestors are tried for a press.
constexpr int pressClimb = 3;
// A press never reaches these: it would act on the whole window, app or page.
const std::set<std::string> pressBarriers = {"AXWindow", "AXApplication", "AXWebArea"};
// The side of the square flashed around a point before a pointer click.
constexpr double pointMarkSize = 20;

std::string roleOf(Accessibility& ax, const Element& element) {
    return str(ax, element, "AXRole").value_or("");
}

// A coordinate as the agent reads it back: a whole number, the fraction cut off.
std::string wholeNumber(double value) {
    const double whole = std::trunc(value);
    if (whole == 0) return "0";  // also for -0.4, which would otherwise print "-0"
    char text[400];
    std::snprintf(text, sizeof text, "%.0f", whole);
    return text;
}

// Presses `element` (or the ancestor that takes the press for it); the result names which one.
std::optional<JSON> pressThrough(Accessibility& ax, const Element& element) {
    const Element target = pressable(ax, element);
    if (!target || ax.performAction(target, "AXPress") != axSuccess) return std::nullopt;
    if (isSame(ax, target, element)) return JSON{{"via", "press"}};
    return JSON{{"via", "pressParent"}, {"role", roleOf(ax, target)}};
}

// Brings the app forward and clicks at `point` with the real pointer.
JSON pointerClick(Computer& computer, const RunningApp& app, Point point, const std::string& button,
                  int64_t count, bool markPoint) {
    Platform& platform = computer.platform;
    const bool wasFront = isFront(platform, app);
    bringForward(computer, app);
    if (markPoint) {
        const Rect mark{{point.x - pointMarkSize / 2, point.y - pointMarkSize / 2},
                        {pointMarkSize, pointMarkSize}};
        onMain(platform.mainLoop, [&] { computer.overlay.highlight(mark); });
    }
    clickAt(platform, point, button, count);
    return {{"via", "pointer"}, {"front", !wasFront}};
}

JSON clickElement(Computer& computer, const RunningApp& app, int64_t index,
                  const std::string& button, int64_t count, bool front) {
    Accessibility& ax = computer.platform.accessibility;
    const Element target = element(ax, computer.sessions, app, index);
    highlight(computer, target);
    const bool simple = button == "left" && count == 1 && !front;
    if (simple) {
        if (auto pressed = pressThrough(ax, target)) return *pressed;
        // A text field in the background takes the keyboard focus without coming forward.
        if (!isFront(computer.platform, app) && textLikeRoles.count(roleOf(ax, target)) &&
            ax.isSettable(target, "AXFocused") == true &&
            ax.setAttribute(target, "AXFocused", true) == axSuccess)
            return {{"via", "focus"}};
    }
    if (button == "right" && !front && offersAction(ax, target, "AXShowMenu") &&
        ax.performAction(target, "AXShowMenu") == axSuccess)
        return {{"via", "showMenu"}};
    const auto frame = frameOf(ax, target);
    if (!frame || !(frame->size.width > 0)) {
        throw Failure{"Element [" + std::to_string(index) + "] has no place on screen to click."};
    }
    return pointerClick(computer, app, center(*frame), button, count, /*markPoint=*/false);
}

JSON clickPoint(Computer& computer, const RunningApp& app, const JSON& params,
                const std::string& button, int64_t count, bool front) {
    Accessibility& ax = computer.platform.accessibility;
    const auto x = doubleParam(params, "x");
    const auto y = doubleParam(params, "y");
    if (!x || !y)
        throw Failure{"Give an element index, or x and y inside the window.", "bad-input"};
    // The window is read once: its frame gives both the origin and the bounds.
    const Element window = currentWindow(computer, app);
    const auto frame = window ? frameOf(ax, window) : std::nullopt;
    if (!frame) throw Failure{displayName(app, "The app") + " has no window.", "no-window"};
    const Point point{frame->minX() + *x, frame->minY() + *y};
    if (!frame->contains(point)) {
        throw Failure{wholeNumber(*x) + "," + wholeNumber(*y) + " is outside " +
                          displayName(app, "the app") + "'s window (" +
                          wholeNumber(frame->size.width) + "\u00D7" +
                          wholeNumber(frame->size.height) +
                          "). Read x and y off its latest screenshot, or use an element index.",
                      "bad-input"};
    }
    const bool simple = button == "left" && count == 1 && !front;
    if (simple && !isFront(computer.platform, app)) {
        const Element target = pressable(ax, elementAt(computer, app, point));
        if (target && ax.performAction(target, "AXPress") == axSuccess) {
            std::string label = str(ax, target, "AXTitle").value_or("");
            if (label.empty()) label = str(ax, target, "AXDescription").value_or("");
            return {{"via", "pressAtPoint"}, {"role", roleOf(ax, target)}, {"label", label}};
        }
    }
    return pointerClick(computer, app, point, button, count, /*markPoint=*/true);
}

// The element the agent names by index, looked up and flashed; throws "stale".
Element namedElement(Computer& computer, const RunningApp& app, int64_t index) {
    const Element found = element(computer.platform.accessibility, computer.sessions, app, index);
    highlight(computer, found);
    return found;
}

}  // namespace

Element pressable(Accessibility& ax, const Element& element) {
    Element current = element;
    for (int step = 0; current; ++step) {
        if (offersAction(ax, current, "AXPress")) return current;
        // Only text, images, cells, groups and unknown parts hand their press to an ancestor;
        // the rule is checked on the starting element alone.
        if (step == 0 && !climbingRoles.count(roleOf(ax, current))) return {};
        if (step == pressClimb) return {};
        Element parent = elementAttr(ax, current, "AXParent");
        if (!parent || pressBarriers.count(roleOf(ax, parent))) return {};
        current = std::move(parent);
    }
    return {};
}

Element elementAt(Computer& computer, const RunningApp& app, Point point) {
    const AppSession* session = computer.sessions.find(app.pid);
    if (!session) return {};
    Accessibility& ax = computer.platform.accessibility;
    Element smallest;
    double smallestArea = 0;
    for (const auto& [index, candidate] : session->elements) {
        const auto frame = frameOf(ax, candidate);
        if (!frame || !(frame->size.width > 0) || !(frame->size.height > 0) ||
            !frame->contains(point))
            continue;
        const double area = frame->size.width * frame->size.height;
        if (!smallest || area < smallestArea) {
            smallest = candidate;
            smallestArea = area;
        }
    }
    return smallest;
}

Point center(const Rect& rect) {
    return {rect.minX() + rect.size.width / 2, rect.minY() + rect.size.height / 2};
}

JSON click(Computer& computer, const JSON& params) {
    requireAccessibility(computer.platform.accessibility);
    const auto name = param<std::string>(params, "app");
    if (!name) throw Failure{"Give the app's name.", "bad-input"};
    const RunningApp app = resolveApp(computer.platform, *name, /*launch=*/false);
    const std::string button = param<std::string>(params, "button").value_or("left");
    const int64_t count = intParam(params, "count").value_or(1);
    const bool front = param<bool>(params, "front").value_or(false);
    if (const auto index = intParam(params, "index"))
        return clickElement(computer, app, *index, button, count, front);
    return clickPoint(computer, app, params, button, count, front);
}

JSON setValue(Computer& computer, const JSON& params) {
    Accessibility& ax = computer.platform.accessibility;
    requireAccessibility(ax);
    const auto name = param<std::string>(params, "app");
    const auto index = intParam(params, "index");
    const auto value = param<std::string>(params, "value");
    if (!name || !index || !value)
        throw Failure{"Give the app, the element index and the value.", "bad-input"};
    const RunningApp app = resolveApp(computer.platform, *name, /*launch=*/false);
    const Element target = namedElement(computer, app, *index);
    if (ax.isSettable(target, "AXValue") != true) {
        throw Failure{"Element [" + std::to_string(*index) +
                      "] does not take a value directly. Click it and use type_text instead."};
    }
    ax.setAttribute(target, "AXFocused", true);  // many fields take a value only when focused
    if (const int error = ax.setAttribute(target, "AXValue", *value); error != axSuccess) {
        throw Failure{"Setting the value failed (" + std::to_string(error) +
                      "). Click the field and use type_text instead."};
    }
    return {{"ok", true}};
}

JSON action(Computer& computer, const JSON& params) {
    Accessibility& ax = computer.platform.accessibility;
    requireAccessibility(ax);
    const auto name = param<std::string>(params, "app");
    const auto index = intParam(params, "index");
    const auto wanted = param<std::string>(params, "action");
    if (!name || !index || !wanted)
        throw Failure{"Give the app, the element index and the action.", "bad-input"};
    const RunningApp app = resolveApp(computer.platform, *name, /*launch=*/false);
    const Element target = element(ax, computer.sessions, app, *index);
    const auto actions = actionsOf(ax, target);
    const std::string key = wantedAction(*wanted);
    const auto found = std::find_if(actions.begin(), actions.end(), [&](const std::string& name) {
        return matchesAction(name, key);
    });
    if (found == actions.end()) {
        std::string labels;
        for (const auto& name : actions) labels += (labels.empty() ? "" : ", ") + actionLabel(name);
        throw Failure{"Element [" + std::to_string(*index) + "] has no action \"" + *wanted +
                          "\". Its actions: " + labels + ".",
                      "not-found"};
    }
    highlight(computer, target);
    if (const int error = ax.performAction(target, *found); error != axSuccess)
        throw Failure{"The action did not respond (" + std::to_string(error) + ")."};
    return {{"ok", true}};
}

}  // namespace pelko::computer
