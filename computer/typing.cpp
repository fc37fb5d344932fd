#include "typing.h"

#include "apps.h"
#include "ax-readers.h"
#include "computer.h"
#include "input-events.h"
#include "method.h"

namespace pelko::computer {
namespace {

bool isPasswordField(Accessibility& ax, const Element& element) {
    return str(ax, element, "AXSubrole") == "AXSecureTextField";
}

// Puts the text in place of the field's selection; true when the field's value shows it. An
// insertion that left the value as it was (or where neither value reads as text) counts as
// not done, since some apps accept the call and ignore it.
bool insertDirectly(Accessibility& ax, const Element& target, const std::string& text) {
    const bool settable = ax.isSettable(target, "AXSelectedText") == true;
    const auto before = textValue(ax, target);
    if (!settable || ax.setAttribute(target, "AXSelectedText", text) != axSuccess) return false;
    const auto after = textValue(ax, target);
    if (after) return !before || *after != *before;
    return before.has_value();  // the value no longer reads as text: something happened
}

// Sends the text to the app's process and watches the field for it.
JSON typeBehind(Platform& platform, const RunningApp& app, const Element& target,
                const std::string& text, const std::string& before) {
    typeText(platform, text, app.pid);
    for (int check = 0; check < landedChecks; ++check) {
        platform.clock.sleepFor(betweenLandedChecks);
        const auto now = textValue(platform.accessibility, target);
        if (now && *now != before) return {{"via", "keysBehind"}};
    }
    return {{"via", "keysBehind"}, {"landed", false}};
}

// Brings the app forward, raises its window, focuses the target and types at the system level.
JSON typeInFront(Computer& computer, const RunningApp& app, const Element& target,
                 const std::string& text) {
    Platform& platform = computer.platform;
    Accessibility& ax = platform.accessibility;
    const bool wasFront = isFront(platform, app);
    bringForward(computer, app);
    if (const Element window = currentWindow(computer, app)) {
        ax.setAttribute(window, "AXMain", true);
        ax.performAction(window, "AXRaise");
    }
    if (target) ax.setAttribute(target, "AXFocused", true);
    platform.clock.sleepFor(beforeFrontTyping);
    const auto before = target ? textValue(ax, target) : std::nullopt;
    typeText(platform, text, std::nullopt);
    platform.clock.sleepFor(afterFrontTyping);
    if (before) {
        const auto after = textValue(ax, target);
        if (after && *after == *before)
            return {{"via", "keys"}, {"landed", false}, {"front", !wasFront}};
    }
    return {{"via", "keys"}, {"front", !wasFront}};
}

}  // namespace

std::optional<std::string> textValue(Accessibility& ax, const Element& element) {
    const auto value = attr(ax, element, "AXValue");
    const auto* text = value ? value->as<std::string>() : nullptr;
    if (!text) return std::nullopt;
    return *text;
}

JSON typeText(Computer& computer, const JSON& params) {
    Platform& platform = computer.platform;
    Accessibility& ax = platform.accessibility;
    requireAccessibility(ax);
    const auto name = param<std::string>(params, "app");
    const auto text = param<std::string>(params, "text");
    if (!name || !text) throw Failure{"Give the app and the text.", "bad-input"};
    const RunningApp app = resolveApp(platform, *name, /*launch=*/false);
    const bool front = param<bool>(params, "front").value_or(false);
    const Element appElement = ax.applicationElement(app.pid);

    Element target;
    if (const auto index = intParam(params, "index")) {
        target = element(ax, computer.sessions, app, *index);
        ax.setAttribute(target, "AXFocused", true);
    } else {
        target = elementAttr(ax, appElement, "AXFocusedUIElement");
    }
    const bool password = target && isPasswordField(ax, target);
    if (target) {
        highlight(computer, target);
        // Line breaks must arrive as Return presses, which an insertion cannot give.
        const bool lineBreak = text->find_first_of("\r\n") != std::string::npos;
        if (!lineBreak && !password && insertDirectly(ax, target, *text))
            return {{"via", "insert"}};
    }
    if (!front && target && !password && !isFront(platform, app)) {
        if (const auto before = textValue(ax, target))
            return typeBehind(platform, app, target, *text, *before);
    }
    return typeInFront(computer, app, target, *text);
}

JSON pressKey(Computer& computer, const JSON& params) {
    Platform& platform = computer.platform;
    requireAccessibility(platform.accessibility);
    const auto name = param<std::string>(params, "app");
    const auto key = param<std::string>(params, "key");
    if (!name || !key) throw Failure{"Give the app and the key.", "bad-input"};
    const RunningApp app = resolveApp(platform, *name, /*launch=*/false);
    parseKey(*key);  // an unknown key fails before anything moves
    const bool wasFront = isFront(platform, app);
    if (param<bool>(params, "front").value_or(false) || wasFront) {
        bringForward(computer, app);
        pressKey(platform, *key, std::nullopt);
        return {{"via", "front"}, {"front", !wasFront}};
    }
    pressKey(platform, *key, app.pid);
    return {{"via", "behind"}};
}

}  // namespace pelko::computer
