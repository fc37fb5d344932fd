#include "input-events.h"

#include <utf8proc.h>

#include <algorithm>
#include <vector>

#include "ax-readers.h"
#include "cancellation.h"
#include "computer.h"
#include "method.h"
#include "state-reader.h"
#include "text.h"
#include "utf8.h"

namespace pelko::computer {

// clang-format off
const std::map<std::string, uint16_t> keyCodes = {
    {"return", 36}, {"enter", 36}, {"tab", 48}, {"space", 49}, {"delete", 51}, {"backspace", 51},
    {"forwarddelete", 117}, {"escape", 53}, {"esc", 53}, {"left", 123}, {"arrowleft", 123},
    {"right", 124}, {"arrowright", 124}, {"up", 126}, {"arrowup", 126}, {"down", 125},
    {"arrowdown", 125}, {"home", 115}, {"end", 119}, {"pageup", 116}, {"pagedown", 121},
    {"f1", 122}, {"f2", 120}, {"f3", 99}, {"f4", 118}, {"f5", 96}, {"f6", 97}, {"f7", 98},
    {"f8", 100}, {"f9", 101}, {"f10", 109}, {"f11", 103}, {"f12", 111}, {"a", 0}, {"b", 11},
    {"c", 8}, {"d", 2}, {"e", 14}, {"f", 3}, {"g", 5}, {"h", 4}, {"i", 34}, {"j", 38}, {"k", 40},
    {"l", 37}, {"m", 46}, {"n", 45}, {"o", 31}, {"p", 35}, {"q", 12}, {"r", 15}, {"s", 1},
    {"t", 17}, {"u", 32}, {"v", 9}, {"w", 13}, {"x", 7}, {"y", 16}, {"z", 6}, {"0", 29}, {"1", 18},
    {"2", 19}, {"3", 20}, {"4", 21}, {"5", 23}, {"6", 22}, {"7", 26}, {"8", 28}, {"9", 25},
    {"-", 27}, {"minus", 27}, {"=", 24}, {"equal", 24}, {"[", 33}, {"]", 30}, {";", 41}, {"'", 39},
    {",", 43}, {"comma", 43}, {".", 47}, {"period", 47}, {"/", 44}, {"slash", 44}, {"\\", 42},
    {"`", 50},
};

const std::map<std::string, char32_t> keyCharacters = {
    {"return", 0x0D}, {"enter", 0x0D}, {"tab", 0x09}, {"space", 0x20}, {"delete", 0x08},
    {"backspace", 0x08}, {"escape", 0x1B}, {"esc", 0x1B}, {"up", 0xF700}, {"arrowup", 0xF700},
    {"down", 0xF701}, {"arrowdown", 0xF701}, {"left", 0xF702}, {"arrowleft", 0xF702},
    {"right", 0xF703}, {"arrowright", 0xF703}, {"f1", 0xF704}, {"f2", 0xF705}, {"f3", 0xF706},
    {"f4", 0xF707}, {"f5", 0xF708}, {"f6", 0xF709}, {"f7", 0xF70A}, {"f8", 0xF70B}, {"f9", 0xF70C},
    {"f10", 0xF70D}, {"f11", 0xF70E}, {"f12", 0xF70F}, {"forwarddelete", 0xF728}, {"home", 0xF729},
    {"end", 0xF72B}, {"pageup", 0xF72C}, {"pagedown", 0xF72D}, {"minus", '-'}, {"equal", '='},
    {"comma", ','}, {"period", '.'}, {"slash", '/'},
};

const std::map<std::string, EventFlags> modifierFlags = {
    {"cmd", eventFlagCommand}, {"command", eventFlagCommand}, {"super", eventFlagCommand},
    {"meta", eventFlagCommand}, {"\u2318", eventFlagCommand}, {"shift", eventFlagShift},
    {"\u21E7", eventFlagShift}, {"alt", eventFlagAlternate}, {"option", eventFlagAlternate},
    {"opt", eventFlagAlternate}, {"\u2325", eventFlagAlternate}, {"ctrl", eventFlagControl},
    {"control", eventFlagControl}, {"\u2303", eventFlagControl}, {"fn", eventFlagSecondaryFn},
};
// clang-format on

namespace {

constexpr Duration afterMove = std::chrono::milliseconds(50);
constexpr Duration afterClickPair = std::chrono::milliseconds(60);
constexpr Duration afterKeyPress = std::chrono::milliseconds(30);
constexpr Duration afterChunk = std::chrono::milliseconds(20);
constexpr Duration betweenFrontChecks = std::chrono::milliseconds(50);
constexpr Duration frontSettling = std::chrono::milliseconds(150);
constexpr int frontChecks = 40;
// A chunk of typed text is sent as soon as it holds this many UTF-16 units.
constexpr size_t chunkUnits = 16;

// The Unicode scalars of UTF-8 text; a byte that starts no valid sequence reads as U+FFFD.
std::vector<char32_t> scalarsOf(std::string_view text) {
    std::vector<char32_t> scalars;
    for (const CodePoint& codePoint : CodePoints(text)) scalars.push_back(codePoint.value);
    return scalars;
}

std::string utf8Of(char32_t scalar) {
    std::string text;
    appendUTF8(text, scalar);
    return text;
}

// The pieces of a combination between "+" signs, empty ones dropped.
std::vector<std::string> comboPieces(std::string_view combo) {
    std::vector<std::string> pieces;
    size_t start = 0;
    for (;;) {
        const size_t plus = combo.find('+', start);
        const std::string_view piece = combo.substr(start, plus - start);
        if (!piece.empty()) pieces.emplace_back(piece);
        if (plus == std::string_view::npos) break;
        start = plus + 1;
    }
    return pieces;
}

void send(Platform& platform, std::optional<InputEvent> event, std::optional<pid_t> pid) {
    if (pid)
        postTo(platform, std::move(event), *pid);
    else
        post(platform, std::move(event));
}

EventSourceState sourceFor(std::optional<pid_t> pid) {
    return pid ? EventSourceState::privateState : EventSourceState::hidSystem;
}

}  // namespace

std::optional<pid_t> frontPid(Platform& platform) {
    Accessibility& ax = platform.accessibility;
    if (const Element app = elementAttr(ax, ax.systemWideElement(), "AXFocusedApplication")) {
        if (const auto pid = ax.processId(app)) return pid;
    }
    if (const auto front = platform.workspace.frontmostApplication()) return front->pid;
    return std::nullopt;
}

bool isFront(Platform& platform, const RunningApp& app) {
    return frontPid(platform) == app.pid;
}

void bringForward(Platform& platform, const Emit& emit, const RunningApp& app) {
    emit({{"event", "front"}, {"app", app.localizedName.value_or("")}});
    Workspace& workspace = platform.workspace;
    const auto fresh = workspace.runningApplication(app.pid);
    if (fresh ? fresh->hidden : app.hidden) workspace.unhide(app.pid);
    if (!isFront(platform, app)) {
        workspace.activate(app.pid);
        for (int check = 0; check < frontChecks; ++check) {
            if (isFront(platform, app)) break;
            platform.clock.sleepFor(betweenFrontChecks);
        }
        platform.clock.sleepFor(frontSettling);
    }
    if (!isFront(platform, app)) {
        const std::string name =
            app.localizedName && !app.localizedName->empty() ? *app.localizedName : "The app";
        throw Failure{name +
                          " could not be brought to the front, so nothing was typed or clicked. "
                          "Try again, or ask the user to click its window once.",
                      "not-front"};
    }
}

void bringForward(Computer& computer, const RunningApp& app) {
    bringForward(
        computer.platform, [&](const JSON& line) { computer.output.emit(line); }, app);
}

void highlight(Computer& computer, const Element& element) {
    Platform& platform = computer.platform;
    const auto pid = platform.accessibility.processId(element);
    if (!pid || frontPid(platform) != *pid) return;
    const auto frame = frameOf(platform.accessibility, element);
    // Written so that a size that is not a number counts as not positive.
    if (!frame || !(frame->size.width > 0) || !(frame->size.height > 0)) return;
    onMain(platform.mainLoop, [&] { computer.overlay.highlight(*frame); });
}

void post(Platform& platform, std::optional<InputEvent> event) {
    if (!event) return;
    event->sourceUserData = ownEventMark;
    platform.events.postSystem(*event);
}

void postTo(Platform& platform, std::optional<InputEvent> event, pid_t pid) {
    if (!event) return;
    event->sourceUserData = ownEventMark;
    platform.events.postToProcess(*event, pid);
}

Element currentWindow(Computer& computer, const RunningApp& app) {
    Accessibility& ax = computer.platform.accessibility;
    if (const AppSession* session = computer.sessions.find(app.pid); session && session->window)
        return session->window;
    return pickWindow(ax, ax.applicationElement(app.pid), std::nullopt);
}

std::optional<Point> windowOrigin(Computer& computer, const RunningApp& app) {
    const Element window = currentWindow(computer, app);
    if (!window) return std::nullopt;
    const auto frame = frameOf(computer.platform.accessibility, window);
    if (!frame) return std::nullopt;
    return frame->origin;
}

void clickAt(Platform& platform, Point point, const std::string& button, int64_t count) {
    // A stopped call ends after the click, never between its presses or with the pointer away.
    const WholeInputSequence whole;
    Events& events = platform.events;
    const auto source = EventSourceState::hidSystem;
    const std::optional<Point> before = events.pointerLocation();
    MouseButton which = MouseButton::left;
    EventType down = EventType::leftMouseDown, up = EventType::leftMouseUp;
    if (button == "right") {
        which = MouseButton::right;
        down = EventType::rightMouseDown;
        up = EventType::rightMouseUp;
    } else if (button == "middle") {
        which = MouseButton::center;
        down = EventType::otherMouseDown;
        up = EventType::otherMouseUp;
    }
    post(platform, events.createMouseEvent(source, EventType::mouseMoved, point, which));
    platform.clock.sleepFor(afterMove);
    const int64_t clicks = std::clamp<int64_t>(count, 1, 3);
    for (int64_t state = 1; state <= clicks; ++state) {
        for (const EventType type : {down, up}) {
            auto event = events.createMouseEvent(source, type, point, which);
            if (event) event->clickState = state;
            post(platform, std::move(event));
        }
        platform.clock.sleepFor(afterClickPair);
    }
    if (before) events.warpPointer(*before);
}

KeyCombo parseKey(const std::string& combo) {
    EventFlags flags = 0;
    std::optional<std::string> key;
    for (const auto& piece : comboPieces(combo)) {
        const std::string word = lowerCased(trimmedBlanks(piece));
        if (word.empty()) continue;
        if (const auto modifier = modifierFlags.find(word); modifier != modifierFlags.end())
            flags |= modifier->second;
        else
            key = word;
    }
    if (key) {
        if (const auto code = keyCodes.find(*key); code != keyCodes.end())
            return {code->second, flags};
    }
    throw Failure{"Unknown key \"" + combo +
                      "\". Use names like Return, Tab, Escape, Up, cmd+s, shift+cmd+t.",
                  "bad-input"};
}

std::optional<std::string> keyCharacter(const std::string& combo, bool shift) {
    const auto pieces = comboPieces(combo);
    const std::string key =
        pieces.empty() ? std::string() : lowerCased(trimmedBlanks(pieces.back()));
    if (const auto known = keyCharacters.find(key); known != keyCharacters.end())
        return utf8Of(known->second);
    const auto scalars = scalarsOf(key);
    if (scalars.size() != 1) return std::nullopt;
    char32_t scalar = scalars.front();
    if (shift)
        scalar = static_cast<char32_t>(utf8proc_toupper(static_cast<utf8proc_int32_t>(scalar)));
    return utf8Of(scalar);
}

void pressKey(Platform& platform, const std::string& combo, std::optional<pid_t> pid) {
    const KeyCombo parsed = parseKey(combo);
    std::u16string text;
    if (pid) {
        if (const auto character = keyCharacter(combo, (parsed.flags & eventFlagShift) != 0)) {
            for (char32_t scalar : scalarsOf(*character)) appendUTF16(text, scalar);
        }
    }
    for (const bool down : {true, false}) {
        auto event = platform.events.createKeyboardEvent(sourceFor(pid), parsed.keyCode, down);
        if (event) {
            event->flags = parsed.flags;
            event->unicode = text;
        }
        send(platform, std::move(event), pid);
    }
    platform.clock.sleepFor(afterKeyPress);
}

void typeText(Platform& platform, const std::string& text, std::optional<pid_t> pid) {
    std::u16string pending;
    auto sendPending = [&] {
        for (const bool down : {true, false}) {
            auto event = platform.events.createKeyboardEvent(sourceFor(pid), 0, down);
            if (event) {
                event->flags = 0;
                event->unicode = pending;
            }
            send(platform, std::move(event), pid);
        }
        pending.clear();
        platform.clock.sleepFor(afterChunk);
    };
    auto pressAlone = [&](const char* key) {
        if (!pending.empty()) sendPending();
        try {
            pressKey(platform, key, pid);
        } catch (const Failure&) {
            // The named keys are in the table; nothing else can fail here.
        }
    };
    for (const char32_t scalar : scalarsOf(text)) {
        if (scalar == U'\t') {
            pressAlone("Tab");
        } else if (scalar == U'\r' || scalar == U'\n') {
            pressAlone("Return");
        } else {
            appendUTF16(pending, scalar);
            if (pending.size() >= chunkUnits) sendPending();
        }
    }
    if (!pending.empty()) sendPending();
}

}  // namespace pelko::computer
