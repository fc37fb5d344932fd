// Key names and typed text as the agent sends them: `parseKey`, `keyCharacter`, `pressKey` and
// `typeText`, with the events they post recorded instead of delivered.
//
// The first byte picks the shift flag and whether events go to one process; the rest is the
// combination (or the text). What must hold: a combination either parses into a key code of the
// table with modifier flags only, or fails with "bad-input" before any event is posted; a key's
// character is one whole scalar; a key press is exactly one key-down and one key-up; typed text
// arrives whole, in order, in chunks that never split a character, every event with the
// program's own mark.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "fuzz-support.h"
#include "input-events.h"
#include "method.h"
#include "sim/sim-desktop.h"
#include "utf8.h"

namespace {

using namespace pelko;
using namespace pelko::computer;

[[noreturn]] void fault(const std::string& what, const std::string& detail) {
    pelko::fuzzing::fault("key-names", what, detail);
}

// Events as the platform would receive them, kept in order.
class RecordedEvents final : public Events {
  public:
    struct Posted {
        InputEvent event;
        bool toProcess = false;
    };
    std::vector<Posted> posted;

    std::optional<InputEvent> createMouseEvent(EventSourceState source, EventType type,
                                               Point location, MouseButton button) override {
        return InputEvent{.type = type, .source = source, .location = location, .button = button};
    }
    std::optional<InputEvent> createKeyboardEvent(EventSourceState source, uint16_t keyCode,
                                                  bool down) override {
        return InputEvent{.type = down ? EventType::keyDown : EventType::keyUp,
                          .source = source,
                          .keyCode = keyCode};
    }
    std::optional<InputEvent> createScrollWheelEvent(EventSourceState source, int32_t wheel1,
                                                     int32_t wheel2) override {
        return InputEvent{
            .type = EventType::scrollWheel, .source = source, .wheel1 = wheel1, .wheel2 = wheel2};
    }
    void postSystem(const InputEvent& event) override { posted.push_back({event, false}); }
    void postToProcess(const InputEvent& event, pid_t) override { posted.push_back({event, true}); }
    std::optional<Point> pointerLocation() override { return Point{}; }
    void warpPointer(Point) override {}
};

EventFlags allModifiers() {
    EventFlags all = 0;
    for (const auto& [word, flag] : modifierFlags) all |= flag;
    return all;
}

bool isKnownCode(uint16_t code) {
    for (const auto& [name, known] : keyCodes)
        if (known == code) return true;
    return false;
}

// Whether UTF-16 units pair every surrogate.
bool isWholeUTF16(const std::u16string& units) {
    for (size_t i = 0; i < units.size(); ++i) {
        const char16_t unit = units[i];
        if (unit >= 0xDC00 && unit <= 0xDFFF) return false;
        if (unit >= 0xD800 && unit <= 0xDBFF) {
            if (i + 1 == units.size() || units[i + 1] < 0xDC00 || units[i + 1] > 0xDFFF)
                return false;
            ++i;
        }
    }
    return true;
}

// The scalars of UTF-16 units whose surrogates pair up (checked before).
std::u32string scalarsOfUTF16(const std::u16string& units) {
    std::u32string scalars;
    for (size_t i = 0; i < units.size(); ++i) {
        const char32_t unit = units[i];
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < units.size())
            scalars.push_back(0x10000 + ((unit - 0xD800) << 10) + (units[++i] - 0xDC00));
        else
            scalars.push_back(unit);
    }
    return scalars;
}

void checkMarks(const RecordedEvents& events, const std::string& input) {
    for (const auto& posted : events.posted)
        if (posted.event.sourceUserData != ownEventMark) fault("an event without the mark", input);
}

void checkCombination(Platform& platform, RecordedEvents& events, const std::string& combo,
                      bool shift, std::optional<pid_t> pid) {
    std::optional<KeyCombo> parsed;
    try {
        parsed = parseKey(combo);
    } catch (const Failure& failure) {
        if (failure.code != "bad-input") fault("a key name failure that is not bad-input", combo);
    }
    if (parsed) {
        if (!isKnownCode(parsed->keyCode)) fault("a key code outside the table", combo);
        if ((parsed->flags & ~allModifiers()) != 0) fault("flags that are no modifier", combo);
    }
    if (const auto character = keyCharacter(combo, shift)) {
        if (!isValidUTF8(*character)) fault("a key character that is not UTF-8", combo);
        size_t scalars = 0;
        for ([[maybe_unused]] const CodePoint& point : CodePoints(*character)) ++scalars;
        if (scalars != 1) fault("a key character that is not one scalar", combo);
    }

    try {
        pressKey(platform, combo, pid);
    } catch (const Failure&) {
        if (parsed) fault("pressKey failed on a combination parseKey takes", combo);
        if (!events.posted.empty()) fault("events posted before a key name failed", combo);
        return;
    }
    if (!parsed) fault("pressKey took a combination parseKey refuses", combo);
    if (events.posted.size() != 2) fault("a key press that is not one down and one up", combo);
    const InputEvent& down = events.posted[0].event;
    const InputEvent& up = events.posted[1].event;
    if (down.type != EventType::keyDown || up.type != EventType::keyUp)
        fault("a key press out of order", combo);
    for (const InputEvent* event : {&down, &up}) {
        if (event->keyCode != parsed->keyCode || event->flags != parsed->flags)
            fault("a posted key that is not the parsed one", combo);
        if (!isWholeUTF16(event->unicode)) fault("a key's text splits a character", combo);
    }
    checkMarks(events, combo);
}

void checkTyping(Platform& platform, RecordedEvents& events, const std::string& text,
                 std::optional<pid_t> pid) {
    typeText(platform, text, pid);
    checkMarks(events, text);
    // Tab, carriage return and line feed are key presses of their own; everything else rides
    // as text on key-down events of key code 0.
    const uint16_t tab = keyCodes.at("tab"), returnKey = keyCodes.at("return");
    std::u32string typed;
    for (size_t i = 0; i < events.posted.size(); i += 2) {
        if (i + 1 >= events.posted.size()) fault("a key-down without its key-up", text);
        const InputEvent& down = events.posted[i].event;
        const InputEvent& up = events.posted[i + 1].event;
        if (down.type != EventType::keyDown || up.type != EventType::keyUp ||
            down.keyCode != up.keyCode || down.unicode != up.unicode)
            fault("a key-down and key-up that do not match", text);
        if (!isWholeUTF16(down.unicode)) fault("a typed chunk splits a character", text);
        if (down.keyCode == tab) {
            typed += U'\t';
        } else if (down.keyCode == returnKey) {
            typed += U'\n';
        } else if (down.keyCode == 0) {
            if (down.unicode.empty()) fault("an empty typed chunk", text);
            // A chunk is sent as soon as it holds 16 units, so it never holds more than 17.
            if (down.unicode.size() > 17) fault("a typed chunk that is too long", text);
            typed += scalarsOfUTF16(down.unicode);
        } else {
            fault("typing posted an unexpected key", text);
        }
    }
    // Invalid bytes are typed as U+FFFD, carriage returns as Return.
    std::u32string wanted;
    for (const CodePoint& point : CodePoints(text))
        wanted += point.value == U'\r' ? U'\n' : point.value;
    if (typed != wanted) fault("typed text arrived changed", text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const uint8_t mode = data[0];
    const std::string rest(reinterpret_cast<const char*>(data + 1), size - 1);

    VirtualClock clock;
    MainLoop mainLoop(clock);
    sim::SimDesktop desktop(clock, JSON::object());
    RecordedEvents events;
    Platform platform{clock, mainLoop, desktop, desktop, desktop, desktop, events, desktop};
    const std::optional<pid_t> pid = (mode & 2) ? std::optional<pid_t>(4242) : std::nullopt;
    if (mode & 4)
        checkTyping(platform, events, rest, pid);
    else
        checkCombination(platform, events, rest, (mode & 1) != 0, pid);
    return 0;
}
