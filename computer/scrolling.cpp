#include "scrolling.h"

#include <algorithm>
#include <cmath>
#include <deque>

#include "apps.h"
#include "ax-readers.h"
#include "cancellation.h"
#include "click.h"
#include "computer.h"
#include "input-events.h"
#include "method.h"
#include "sessions.h"

namespace pelko::computer {
namespace {

constexpr Duration afterPointerMove = std::chrono::milliseconds(50);
constexpr Duration afterWheel = std::chrono::milliseconds(80);
// An app may build its scroll area a moment after its window; one more look after this.
constexpr Duration scrollAreaRetry = std::chrono::milliseconds(300);
// How often, and how far apart, an element asked to scroll into view is checked for movement.
constexpr int scrolledChecks = 10;
constexpr Duration betweenScrolledChecks = std::chrono::milliseconds(100);
// Parts that reach no further than this past the area's edge are as good as visible.
constexpr double visibleSlack = 4;
// A move of an edge by more than this counts as scrolled.
constexpr double movedSlack = 1;

struct ScrollSense {
    bool vertical;
    bool forward;  // toward the end: down or right
};

ScrollSense senseOf(const std::string& direction) {
    if (direction == "up") return {true, false};
    if (direction == "down") return {true, true};
    if (direction == "right") return {false, true};
    return {false, false};
}

double area(const Rect& rect) {
    return rect.size.width * rect.size.height;
}

// The rectangle's extent along the direction of scrolling.
double length(const Rect& rect, ScrollSense sense) {
    return sense.vertical ? rect.size.height : rect.size.width;
}

// One element's role, frame and children, in one round trip.
struct Examined {
    std::string role;
    std::optional<Rect> frame;
    std::vector<Element> children;
};

Examined examine(Accessibility& ax, const Element& element) {
    const auto reads = ax.copyAttributes(element, {"AXRole", "AXPosition", "AXSize", "AXChildren"});
    return {str(reads[0]).value_or(""), frameOf(reads[1], reads[2]), elementsOf(reads[3])};
}

// The starting element or one of its ancestors that is a scroll area.
Element climbToScrollArea(Accessibility& ax, const Element& from) {
    Element current = from;
    for (int step = 0; current && step < scrollAreaClimb; ++step) {
        if (str(ax, current, "AXRole") == "AXScrollArea") return current;
        current = elementAttr(ax, current, "AXParent");
    }
    return {};
}

// The largest scroll area of the window, breadth first; the inside of a web page is left out.
Element largestScrollArea(Accessibility& ax, const Element& window) {
    std::deque<Element> queue = {window};
    Element largest;
    double largestArea = 0;
    for (int examined = 0; !queue.empty() && examined < scrollAreaSearchLimit; ++examined) {
        const Element element = queue.front();
        queue.pop_front();
        Examined found = examine(ax, element);
        if (found.role == "AXScrollArea" && found.frame && area(*found.frame) > largestArea) {
            largest = element;
            largestArea = area(*found.frame);
        }
        if (found.role != "AXWebArea")
            queue.insert(queue.end(), found.children.begin(), found.children.end());
    }
    return largest;
}

// Steps the area's scroll bar by `distance` points of its content; nothing when the area has no
// such bar, no content to measure or a bar that cannot be set (the next way is tried then).
std::optional<BehindScroll> stepScrollBar(Accessibility& ax, const Element& scrollArea,
                                          const Rect& areaFrame, ScrollSense sense,
                                          double distance) {
    const Element bar = elementAttr(
        ax, scrollArea, sense.vertical ? "AXVerticalScrollBar" : "AXHorizontalScrollBar");
    if (!bar) return std::nullopt;
    // The content is the largest of the area's children.
    std::optional<Rect> content;
    for (const auto& child : children(ax, scrollArea)) {
        const auto frame = frameOf(ax, child);
        if (frame && (!content || area(*frame) > area(*content))) content = frame;
    }
    if (!content) return std::nullopt;
    const double range = length(*content, sense) - length(areaFrame, sense);
    if (!(range > 1) || ax.isSettable(bar, "AXValue") != true) return std::nullopt;
    const auto read = attr(ax, bar, "AXValue");
    std::optional<double> value;
    if (const auto* number = read ? read->as<double>() : nullptr) value = *number;
    if (const auto* number = read ? read->as<int64_t>() : nullptr)
        value = static_cast<double>(*number);
    if (!value) return std::nullopt;
    const double step = distance / range;
    const double wanted = std::clamp(sense.forward ? *value + step : *value - step, 0.0, 1.0);
    if (wanted == *value) return BehindScroll::nothing;
    if (ax.setAttribute(bar, "AXValue", wanted) == axSuccess) return BehindScroll::moved;
    return std::nullopt;
}

// How far `frame` reaches past the area's edge in the direction of scrolling.
double overshoot(const Rect& frame, const Rect& areaFrame, ScrollSense sense) {
    if (sense.vertical)
        return sense.forward ? frame.maxY() - areaFrame.maxY() : areaFrame.minY() - frame.minY();
    return sense.forward ? frame.maxX() - areaFrame.maxX() : areaFrame.minX() - frame.minX();
}

// Asks the part just outside the visible area, about `distance` away, to scroll into view.
BehindScroll scrollIntoView(Platform& platform, const Element& scrollArea, const Rect& areaFrame,
                            ScrollSense sense, double distance) {
    Accessibility& ax = platform.accessibility;
    std::deque<Element> queue;
    const auto first = children(ax, scrollArea);
    queue.insert(queue.end(), first.begin(), first.end());
    int examined = 0;
    Element chosen;
    double chosenMiss = 0;
    for (; !queue.empty() && examined < scrollTargetSearchLimit; ++examined) {
        const Element element = queue.front();
        queue.pop_front();
        Examined found = examine(ax, element);
        queue.insert(queue.end(), found.children.begin(), found.children.end());
        const auto& frame = found.frame;
        // Parts as long as the area along the scroll direction (the content itself, whole
        // columns when scrolling down) cannot be brought into view by scrolling that way.
        if (!frame || !(frame->size.width > 0) || !(frame->size.height > 0) ||
            !(length(*frame, sense) < length(areaFrame, sense)))
            continue;
        const double past = overshoot(*frame, areaFrame, sense);
        if (!(past > visibleSlack)) continue;
        const double miss = std::abs(past - distance);
        // The actions are asked for only of a part that would be a better choice.
        if ((!chosen || miss < chosenMiss) && offersAction(ax, element, "AXScrollToVisible")) {
            chosen = element;
            chosenMiss = miss;
        }
    }
    if (examined == 0) return BehindScroll::cannot;
    const auto before = chosen ? frameOf(ax, chosen) : std::nullopt;
    if (!before) return BehindScroll::nothing;
    if (ax.performAction(chosen, "AXScrollToVisible") != axSuccess) return BehindScroll::cannot;
    for (int check = 0; check < scrolledChecks; ++check) {
        platform.clock.sleepFor(betweenScrolledChecks);
        const auto now = frameOf(ax, chosen);
        if (now && (std::abs(now->minY() - before->minY()) > movedSlack ||
                    std::abs(now->minX() - before->minX()) > movedSlack))
            return BehindScroll::moved;
    }
    return BehindScroll::nothing;
}

}  // namespace

void scrollAt(Platform& platform, Point point, const std::string& direction, int64_t amount) {
    // A stopped call ends after the wheel, never with the pointer away.
    const WholeInputSequence whole;
    Events& events = platform.events;
    const auto before = events.pointerLocation();
    post(platform, events.createMouseEvent(EventSourceState::none, EventType::mouseMoved, point,
                                           MouseButton::left));
    platform.clock.sleepFor(afterPointerMove);
    const auto lines = static_cast<int32_t>(std::clamp<int64_t>(amount, 1, maxScrollLines));
    const int32_t vertical = direction == "up" ? lines : direction == "down" ? -lines : 0;
    const int32_t horizontal = direction == "left" ? lines : direction == "right" ? -lines : 0;
    post(platform, events.createScrollWheelEvent(EventSourceState::none, vertical, horizontal));
    platform.clock.sleepFor(afterWheel);
    if (before) events.warpPointer(*before);
}

BehindScroll scrollBehind(Computer& computer, const RunningApp& app, const Element& from,
                          const std::string& direction, int64_t amount) {
    Platform& platform = computer.platform;
    Accessibility& ax = platform.accessibility;
    const ScrollSense sense = senseOf(direction);
    const double distance =
        scrollLine * static_cast<double>(amount > maxScrollLines ? maxScrollLines
                                         : amount < 1            ? 1
                                                                 : amount);
    const Element window = currentWindow(computer, app);
    if (!window) return BehindScroll::cannot;
    Element scrollArea = climbToScrollArea(ax, from);
    if (!scrollArea) scrollArea = largestScrollArea(ax, window);
    if (!scrollArea) {
        platform.clock.sleepFor(scrollAreaRetry);
        scrollArea = largestScrollArea(ax, window);
    }
    if (!scrollArea) return BehindScroll::cannot;
    const auto areaFrame = frameOf(ax, scrollArea);
    if (!areaFrame) return BehindScroll::cannot;
    if (const auto stepped = stepScrollBar(ax, scrollArea, *areaFrame, sense, distance))
        return *stepped;
    return scrollIntoView(platform, scrollArea, *areaFrame, sense, distance);
}

JSON scroll(Computer& computer, const JSON& params) {
    Platform& platform = computer.platform;
    Accessibility& ax = platform.accessibility;
    requireAccessibility(ax);
    const auto name = param<std::string>(params, "app");
    if (!name) throw Failure{"Give the app's name.", "bad-input"};
    const RunningApp app = resolveApp(platform, *name, /*launch=*/false);
    const std::string direction = param<std::string>(params, "direction").value_or("down");
    const int64_t amount = intParam(params, "amount").value_or(5);

    // Where the wheel would turn, and where the search for a scroll area starts.
    std::optional<Point> point;
    Element from;
    const auto x = doubleParam(params, "x");
    const auto y = doubleParam(params, "y");
    if (const auto index = intParam(params, "index")) {
        from = element(ax, computer.sessions, app, *index);
        if (const auto frame = frameOf(ax, from)) point = center(*frame);
    } else if (const auto origin = x && y ? windowOrigin(computer, app) : std::nullopt) {
        point = Point{origin->x + *x, origin->y + *y};
        from = elementAt(computer, app, *point);
    } else if (const Element window = currentWindow(computer, app)) {
        if (const auto frame = frameOf(ax, window)) point = center(*frame);
    }

    if (!param<bool>(params, "front").value_or(false) && !isFront(platform, app)) {
        switch (scrollBehind(computer, app, from, direction, amount)) {
            case BehindScroll::moved:
                return {{"via", "behind"}};
            case BehindScroll::nothing:
                return {{"via", "behind"}, {"moved", false}};
            case BehindScroll::cannot:
                break;
        }
    }
    if (!point)
        throw Failure{"Nowhere to scroll in " + displayName(app, "the app") + ".", "no-window"};
    const bool wasFront = isFront(platform, app);
    bringForward(computer, app);
    scrollAt(platform, *point, direction, amount);
    return {{"via", "wheel"}, {"front", !wasFront}};
}

}  // namespace pelko::computer
