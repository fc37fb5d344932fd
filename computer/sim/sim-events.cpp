// The simulated desktop's input events: creating and posting them, the pointer, and handing key
// presses to the apps (typing into their focused fields) and to the global key monitors.
#include "sim-desktop.h"
#include "utf8.h"

namespace pelko::computer::sim {
namespace {

const char* typeName(EventType type) {
    switch (type) {
        case EventType::mouseMoved:
            return "mouseMoved";
        case EventType::leftMouseDown:
            return "leftMouseDown";
        case EventType::leftMouseUp:
            return "leftMouseUp";
        case EventType::rightMouseDown:
            return "rightMouseDown";
        case EventType::rightMouseUp:
            return "rightMouseUp";
        case EventType::otherMouseDown:
            return "otherMouseDown";
        case EventType::otherMouseUp:
            return "otherMouseUp";
        case EventType::keyDown:
            return "keyDown";
        case EventType::keyUp:
            return "keyUp";
        case EventType::scrollWheel:
            return "scrollWheel";
    }
    return "unknown";
}

const char* sourceName(EventSourceState source) {
    switch (source) {
        case EventSourceState::hidSystem:
            return "hidSystem";
        case EventSourceState::privateState:
            return "private";
        case EventSourceState::none:
            return "none";
    }
    return "unknown";
}

bool isKey(EventType type) {
    return type == EventType::keyDown || type == EventType::keyUp;
}

std::string utf8Of(const std::u16string& units) {
    std::string text;
    for (size_t i = 0; i < units.size(); ++i) {
        char32_t scalar = units[i];
        if (scalar >= 0xD800 && scalar < 0xDC00 && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
            units[i + 1] < 0xE000) {
            scalar = 0x10000 + ((scalar - 0xD800) << 10) + (units[i + 1] - 0xDC00);
            ++i;
        } else if (scalar >= 0xD800 && scalar < 0xE000) {
            scalar = 0xFFFD;  // a lone surrogate
        }
        appendUTF8(text, scalar);
    }
    return text;
}

// What a key types on the standard ANSI layout when the event brings no text of its own.
std::string layoutText(uint16_t keyCode, bool shift) {
    static const char typedCharacters[] = {
        'a',  's', 'd', 'f',  'h', 'g', 'z', 'x', 'c', 'v',  0,    'b', 'q',
        'w',  'e', 'r', 'y',  't', '1', '2', '3', '4', '6',  '5',  '=', '9',
        '7',  '-', '8', '0',  ']', 'o', 'u', '[', 'i', 'p',  '\r', 'l', 'j',
        '\'', 'k', ';', '\\', ',', '/', 'n', 'm', '.', '\t', ' ',  '`', '\b'};
    if (keyCode >= sizeof typedCharacters || !typedCharacters[keyCode]) return {};
    char typed = typedCharacters[keyCode];
    if (shift && typed >= 'a' && typed <= 'z') typed = static_cast<char>(typed - 'a' + 'A');
    return std::string(1, typed);
}

// Control characters and the platform's function-key characters (arrows, F-keys, Home ...).
bool typesNothing(const std::string& text) {
    if (text.empty()) return true;
    const CodePoint first = *CodePoints(text).begin();
    return !first.valid || first.value < 0x20 || first.value == 0x7F ||
           (first.value >= 0xF700 && first.value <= 0xF8FF);
}

// Removes the last scalar of UTF-8 text.
void dropLastScalar(std::string& text) {
    while (!text.empty()) {
        const unsigned char last = static_cast<unsigned char>(text.back());
        text.pop_back();
        if ((last & 0xC0) != 0x80) break;
    }
}

}  // namespace

// ---- creating events ----

std::optional<InputEvent> SimDesktop::createMouseEvent(EventSourceState source, EventType type,
                                                       Point location, MouseButton button) {
    std::lock_guard lock(mutex_);
    if (uncreatableEvents_.count(typeName(type))) return std::nullopt;
    InputEvent event;
    event.type = type;
    event.source = source;
    event.location = location;
    event.button = button;
    return event;
}

std::optional<InputEvent> SimDesktop::createKeyboardEvent(EventSourceState source, uint16_t keyCode,
                                                          bool down) {
    std::lock_guard lock(mutex_);
    const EventType type = down ? EventType::keyDown : EventType::keyUp;
    if (uncreatableEvents_.count(typeName(type))) return std::nullopt;
    InputEvent event;
    event.type = type;
    event.source = source;
    event.keyCode = keyCode;
    return event;
}

std::optional<InputEvent> SimDesktop::createScrollWheelEvent(EventSourceState source,
                                                             int32_t wheel1, int32_t wheel2) {
    std::lock_guard lock(mutex_);
    if (uncreatableEvents_.count("scrollWheel")) return std::nullopt;
    InputEvent event;
    event.type = EventType::scrollWheel;
    event.source = source;
    event.location = pointer_;  // a wheel event happens where the pointer is
    event.wheel1 = wheel1;
    event.wheel2 = wheel2;
    return event;
}

// ---- posting ----

void SimDesktop::postSystem(const InputEvent& event) {
    post(event, std::nullopt);
}

void SimDesktop::postToProcess(const InputEvent& event, pid_t pid) {
    post(event, pid);
}

void SimDesktop::post(const InputEvent& event, std::optional<pid_t> target) {
    std::vector<std::function<void()>> after;
    {
        std::lock_guard lock(mutex_);
        JSON entry = {{"type", typeName(event.type)},
                      {"target", target ? JSON(*target) : JSON("system")},
                      {"source", sourceName(event.source)},
                      {"mark", event.sourceUserData},
                      {"flags", event.flags}};
        if (isKey(event.type)) {
            entry["keyCode"] = event.keyCode;
            entry["text"] = utf8Of(event.unicode);
        } else {
            entry["location"] = {event.location.x, event.location.y};
            if (event.type == EventType::scrollWheel) {
                entry["wheel1"] = event.wheel1;
                entry["wheel2"] = event.wheel2;
            } else if (event.type != EventType::mouseMoved) {
                entry["button"] = static_cast<int>(event.button);
                entry["clickState"] = event.clickState;
            }
        }
        log_.record("post", entry);
        // Pointer events at the hardware tap move the real pointer.
        if (!target && !isKey(event.type) && event.type != EventType::scrollWheel)
            pointer_ = event.location;
        if (event.type == EventType::keyDown) {
            App* receiver = nullptr;
            if (!target) {
                // The frontmost app receives it; global monitors see it on its way there.
                for (pid_t pid : order_) {
                    if (apps_[pid].info.active && !apps_[pid].info.terminated)
                        receiver = &apps_[pid];
                }
                deliverKey({event.keyCode, event.sourceUserData}, after);
            } else if (App* app = appOf(*target); app && !app->info.terminated) {
                if (app->info.active || app->acceptsBackgroundKeys)
                    receiver = app;
                else
                    log_.record("keyIgnored", {{"pid", *target}, {"keyCode", event.keyCode}});
            }
            if (receiver) typeInto(*receiver, event, after);
        }
    }
    for (auto& task : after) task();
}

void SimDesktop::typeInto(App& app, const InputEvent& event,
                          std::vector<std::function<void()>>& after) {
    const std::string appName = app.info.localizedName.value_or("");
    std::string text = utf8Of(event.unicode);
    if (text.empty()) text = layoutText(event.keyCode, event.flags & eventFlagShift);
    if (event.flags & (eventFlagCommand | eventFlagControl)) {
        log_.record("keyShortcut",
                    {{"app", appName}, {"keyCode", event.keyCode}, {"flags", event.flags}});
        runMenuShortcut(app, text, event.flags, after);
        return;
    }
    const auto focused = nodes_[app.element].attributes.find("AXFocusedUIElement");
    Node* field = nullptr;
    if (focused != nodes_[app.element].attributes.end()) {
        const auto found = nodes_.find(resolveName(focused->second));
        if (found != nodes_.end() && !found->second.destroyed) field = &found->second;
    }
    if (!field) {
        log_.record("keyLost", {{"app", appName}, {"keyCode", event.keyCode}, {"text", text}});
        return;
    }
    JSON& value = field->attributes["AXValue"];
    std::string current = value.is_string() ? value.get<std::string>() : std::string();
    const JSON role = field->attributes.count("AXRole") ? field->attributes["AXRole"] : JSON();
    if (event.keyCode == 51 || text == "\b") {
        dropLastScalar(current);
    } else if (text == "\r") {
        // Return makes a new line in a text area; elsewhere it types nothing.
        if (role == "AXTextArea") current += "\n";
    } else if (typesNothing(text)) {
        // Control characters and the function-key characters type nothing.
    } else {
        current += text;
    }
    value = current;
    field->selection.reset();  // the caret follows the typing, at the end
    log_.record("keyTyped",
                {{"app", appName},
                 {"element", field->name.empty() ? std::string("#").append(std::to_string(field->id)) : field->name},
                 {"value", current}});
}

std::optional<Point> SimDesktop::pointerLocation() {
    std::lock_guard lock(mutex_);
    if (!pointerReadable_) return std::nullopt;
    return pointer_;
}

void SimDesktop::warpPointer(Point location) {
    std::lock_guard lock(mutex_);
    log_.record("warpPointer", {{"location", {location.x, location.y}}});
    pointer_ = location;
}

}  // namespace pelko::computer::sim
