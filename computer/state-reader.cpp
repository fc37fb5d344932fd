#include "state-reader.h"

#include <algorithm>
#include <deque>

#include "apps.h"
#include "ax-readers.h"
#include "computer.h"
#include "method.h"
#include "text.h"
#include "tree-writer.h"

namespace pelko::computer {
namespace {

JSON titlesOf(Accessibility& ax, const std::vector<Element>& elements) {
    JSON titles = JSON::array();
    for (const auto& element : elements) {
        if (auto title = str(ax, element, "AXTitle")) titles.push_back(std::move(*title));
    }
    return titles;
}

void addElements(AppSession& session, const TreeWriter& writer) {
    for (const auto& [index, element] : writer.elements) session.elements[index] = element;
    session.next = writer.next;
}

}  // namespace

Element pickWindow(Accessibility& ax, const Element& appElement,
                   const std::optional<std::string>& title) {
    const auto windows = elementList(ax, appElement, "AXWindows");
    if (title && !title->empty()) {
        const std::string wanted = lowerCased(*title);
        for (const auto& window : windows) {
            if (lowerCased(str(ax, window, "AXTitle").value_or("")).find(wanted) !=
                std::string::npos)
                return window;
        }
    }
    for (const char* name : {"AXFocusedWindow", "AXMainWindow"}) {
        if (Element window = elementAttr(ax, appElement, name)) return window;
    }
    return windows.empty() ? Element() : windows.front();
}

bool hasEmptyWebArea(Accessibility& ax, const Element& root) {
    std::deque<Element> queue = {root};
    for (int examined = 0; !queue.empty() && examined < webAreaSearchLimit; ++examined) {
        const Element element = queue.front();
        queue.pop_front();
        const bool webArea = str(ax, element, "AXRole") == "AXWebArea";
        const auto kids = children(ax, element);
        if (webArea) return kids.empty();
        queue.insert(queue.end(), kids.begin(), kids.end());
    }
    return false;
}

JSON readRegion(Computer& computer, const RunningApp& app, int64_t index, int64_t maxChars,
                JSON result) {
    Accessibility& ax = computer.platform.accessibility;
    const Element part = element(ax, computer.sessions, app, index);
    AppSession& s = computer.sessions.session(app.pid);
    const std::optional<Rect> bounds = s.window ? frameOf(ax, s.window) : std::nullopt;
    // Region indexes continue from the session's next index, never wrapping, so that the
    // window's indexes stay valid next to them.
    const TreeWriter w = readTree(ax, computer.platform.clock, part, bounds, maxChars, s.next,
                                  /*overviewOnly=*/false);
    addElements(s, w);
    if (s.elements.size() > maxKeptElements) {
        auto keepFrom = s.elements.begin();
        std::advance(keepFrom, static_cast<long>(s.elements.size() - maxKeptElements));
        s.elements.erase(s.elements.begin(), keepFrom);
    }
    if (s.denseWindow) s.region = part;

    result["window"] = {{"title", s.window ? str(ax, s.window, "AXTitle").value_or("") : ""},
                        {"width", bounds ? bounds->size.width : 0.0},
                        {"height", bounds ? bounds->size.height : 0.0}};
    result["region"] = index;
    result["tree"] = w.outline();
    result["count"] = w.elements.size();
    result["truncated"] = w.truncated;
    result["overview"] = w.overview;
    return result;
}

JSON readState(Computer& computer, const std::string& name,
               const std::optional<std::string>& window, int64_t maxChars, bool launch,
               std::optional<int64_t> region, bool again) {
    Platform& platform = computer.platform;
    Accessibility& ax = platform.accessibility;
    requireAccessibility(ax);
    const RunningApp app = resolveApp(platform, name, launch);
    const pid_t pid = app.pid;
    const Element appElement = ax.applicationElement(pid);
    ax.setMessagingTimeout(appElement, stateMessagingTimeoutSeconds);
    AppSession& s = computer.sessions.session(pid);

    // Web-based and cross-platform apps build their tree only when asked to.
    bool tookSwitchNow = false;
    if (!s.askedTree) {
        if (ax.setAttribute(appElement, "AXManualAccessibility", true) == axSuccess) {
            s.tookManualSwitch = true;
            tookSwitchNow = true;
        }
        s.askedTree = true;
    }

    JSON result = {{"app", appInfo(app)}};
    result["windows"] = titlesOf(ax, elementList(ax, appElement, "AXWindows"));
    const Element menuBar = elementAttr(ax, appElement, "AXMenuBar");
    result["menus"] = titlesOf(ax, menuBar ? children(ax, menuBar) : std::vector<Element>{});

    if (region) return readRegion(computer, app, *region, maxChars, std::move(result));

    const Element win = pickWindow(ax, appElement, window);
    if (!win) {
        s.elements.clear();
        s.window = s.denseWindow = s.region = nullptr;
        result["tree"] = "";
        result["count"] = 0;
        return result;
    }
    const std::optional<Rect> bounds = frameOf(ax, win);

    // After the agent opened a part of a dense window, "again" shows it next to the overview.
    const bool dense = isSame(ax, s.denseWindow, win);
    Element focus;
    if (again && dense && s.region && isSame(ax, s.window, win) && !isGone(ax, s.region))
        focus = s.region;

    const int64_t firstIndex = s.next > lastIndex ? 1 : s.next;
    const int64_t budget = focus ? maxChars / 3 : maxChars;
    TreeWriter w =
        readTree(ax, platform.clock, win, bounds, budget, firstIndex, /*overviewOnly=*/dense);

    // An outline that looks empty may only mean the app has not built its tree yet.
    const bool emptyWeb = !s.waitedForPage && hasEmptyWebArea(ax, win);
    s.waitedForPage = true;
    bool turnedEnhancedOn = false, enhancedSetWorked = false;
    std::optional<bool> enhancedBefore;
    if (!s.tookManualSwitch && w.elements.size() < smallOutlineElements && !s.askedEnhanced) {
        s.askedEnhanced = true;
        enhancedBefore = boolAttr(ax, appElement, "AXEnhancedUserInterface");
        if (enhancedBefore != true) {
            turnedEnhancedOn = true;
            enhancedSetWorked =
                ax.setAttribute(appElement, "AXEnhancedUserInterface", true) == axSuccess;
        }
    }
    if (emptyWeb || turnedEnhancedOn ||
        (tookSwitchNow && w.elements.size() < smallOutlineElements)) {
        platform.clock.sleepFor(pageWait);
        w = readTree(ax, platform.clock, win, bounds, maxChars, firstIndex, false);
        // The enhanced interface changes how some apps behave on screen; leave it as it was.
        if (turnedEnhancedOn && enhancedSetWorked && enhancedBefore == false)
            ax.setAttribute(appElement, "AXEnhancedUserInterface", false);
    }

    s.elements = w.elements;
    s.next = w.next;
    s.window = win;
    s.denseWindow = w.overview && (w.cuts >= 1 || w.truncated) ? win : nullptr;
    s.region = nullptr;

    if (focus && s.denseWindow) {
        const TreeWriter p =
            readTree(ax, platform.clock, focus, bounds, maxChars - w.chars, s.next, false);
        addElements(s, p);
        s.region = focus;
        result["part"] = p.outline();
        result["partTruncated"] = p.truncated;
    }

    const auto frame = bounds.value_or(Rect{});
    result["overview"] = w.overview;
    result["window"] = {{"title", str(ax, win, "AXTitle").value_or("")},
                        {"x", frame.origin.x},
                        {"y", frame.origin.y},
                        {"width", frame.size.width},
                        {"height", frame.size.height},
                        {"minimized", boolAttr(ax, win, "AXMinimized").value_or(false)}};
    result["tree"] = w.outline();
    result["count"] = w.elements.size();
    result["truncated"] = w.truncated;
    return result;
}

JSON state(Computer& computer, const JSON& params) {
    const auto name = param<std::string>(params, "app");
    if (!name) throw Failure{"Give the app's name.", "bad-input"};
    return readState(computer, *name, param<std::string>(params, "window"),
                     intParam(params, "maxChars").value_or(defaultMaxChars),
                     param<bool>(params, "launch").value_or(true), intParam(params, "region"),
                     param<bool>(params, "again").value_or(false));
}

}  // namespace pelko::computer
