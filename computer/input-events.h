// Synthetic input: which app is in front and bringing one there, posting tagged events at the
// system level or to one process, clicking at a screen point, key names and key combinations,
// pressing keys and typing text.
//
// Every event posted here carries `ownEventMark` in its source user-data field, so that the
// Escape monitor can tell the program's own key presses from the user's. All points are global
// screen points, origin top-left of the main display, y downward. Everything here runs on the
// `work` queue; every pause goes through the platform's clock.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>

#include "json-line.h"
#include "platform/platform.h"

namespace pelko::computer {

struct Computer;

/// Marks every synthetic input event this process posts ("PELK"), so that its own key presses
/// can be told from the user's.
constexpr int64_t ownEventMark = 0x50454C4B;

/// Key names (lower case) to virtual key codes of the standard ANSI layout; several names
/// share a code. Built once, never changed.
extern const std::map<std::string, uint16_t> keyCodes;

/// Key names to the Unicode scalar the key types (the private-use values are the platform's
/// function-key characters). Built once, never changed.
extern const std::map<std::string, char32_t> keyCharacters;

/// Modifier words (matched trimmed and lower-cased) to the event flag each adds.
extern const std::map<std::string, EventFlags> modifierFlags;

/// Writes one event line (the `front` event); `Computer::output.emit` in the program.
using Emit = std::function<void(const JSON&)>;

/// The process identifier of the frontmost app: the system-wide focused application first,
/// then the workspace's frontmost app; nothing when neither is known.
std::optional<pid_t> frontPid(Platform& platform);

/// Whether `app` is the frontmost app.
bool isFront(Platform& platform, const RunningApp& app);

/// Makes `app` the frontmost app. Emits {"event": "front", "app": name} every time, unhides
/// the app, asks it to activate and waits for it (up to 40 checks 50 ms apart, then 150 ms to
/// settle). Throws `Failure` "not-front" when it is still not in front.
void bringForward(Platform& platform, const Emit& emit, const RunningApp& app);
/// The same, writing the `front` event to the program's output.
void bringForward(Computer& computer, const RunningApp& app);

/// Flashes the element's frame, but only when its app is the frontmost app: an outline over
/// an app in the background would sit on top of other windows. Hops to the main thread.
void highlight(Computer& computer, const Element& element);

/// Tags `event` with `ownEventMark` and posts it at the hardware event tap; nothing for none.
void post(Platform& platform, std::optional<InputEvent> event);

/// Tags `event` with `ownEventMark` and posts it to process `pid` only; nothing for none.
void postTo(Platform& platform, std::optional<InputEvent> event, pid_t pid);

/// The app's current window, the one the acting methods aim at: the window of its last
/// whole-window read, else its focused, main or first window; empty when it has none.
Element currentWindow(Computer& computer, const RunningApp& app);

/// The top-left point of the app's current window. Nothing when there is no window or no frame.
std::optional<Point> windowOrigin(Computer& computer, const RunningApp& app);

/// Clicks at `point` with the "left", "right" or "middle" button (anything else is "left"),
/// `count` times (held to 1..3), through the real pointer, which is put back afterwards.
void clickAt(Platform& platform, Point point, const std::string& button, int64_t count);

/// A key combination parsed: the key's virtual code and the modifier flags.
struct KeyCombo {
    uint16_t keyCode = 0;
    EventFlags flags = 0;
    bool operator==(const KeyCombo&) const = default;
};

/// Parses "cmd+shift+t" and the like: pieces split at "+", trimmed and lower-cased, modifier
/// words add flags, the last other piece is the key. Throws `Failure` "bad-input" when there is
/// no key or the key has no code (so "+" itself cannot be named).
KeyCombo parseKey(const std::string& combo);

/// The one-character text the combination's key types (UTF-8), upper-cased with `shift` for a
/// single-character key; nothing for keys that type nothing known.
std::optional<std::string> keyCharacter(const std::string& combo, bool shift);

/// Presses and releases a key combination, globally or (with `pid`) to that process only,
/// where the typed character rides along. Throws what `parseKey` throws, before posting.
void pressKey(Platform& platform, const std::string& combo, std::optional<pid_t> pid);

/// Types `text` (UTF-8), globally or (with `pid`) to that process only: chunks of at least 16
/// UTF-16 units never split inside a scalar, with Tab, carriage return and line feed each as
/// a key press of its own. Never fails.
void typeText(Platform& platform, const std::string& text, std::optional<pid_t> pid);

}  // namespace pelko::computer
