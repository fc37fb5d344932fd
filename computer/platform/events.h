// The input-event seam, shaped on the platform's event services: events are created from a
// source state, carry the fields the platform lets one set (click state, flags, a Unicode
// string, the source user-data field), and are posted at the system level or to one process.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>

#include "accessibility.h"

namespace pelko::computer {

/// Which event source an event is created from: the combined hardware state (events look as
/// if the user made them), a private state of its own (events to one process), or no source at
/// all (the event takes the platform's defaults; on macOS a null event source, elsewhere the
/// same as the hardware state).
enum class EventSourceState { hidSystem, privateState, none };

enum class EventType {
    mouseMoved,
    leftMouseDown,
    leftMouseUp,
    rightMouseDown,
    rightMouseUp,
    otherMouseDown,
    otherMouseUp,
    keyDown,
    keyUp,
    scrollWheel,
};

/// The platform's button numbers.
enum class MouseButton { left = 0, right = 1, center = 2 };

/// Modifier flags of an event, the platform's bit values.
using EventFlags = uint64_t;
constexpr EventFlags eventFlagShift = 0x20000;
constexpr EventFlags eventFlagControl = 0x40000;
constexpr EventFlags eventFlagAlternate = 0x80000;
constexpr EventFlags eventFlagCommand = 0x100000;
constexpr EventFlags eventFlagSecondaryFn = 0x800000;

/// One synthetic input event. Made by `Events`; the logic then sets the fields it needs and
/// hands it back to be posted. Fields that do not apply to the event's type stay at zero.
struct InputEvent {
    EventType type = EventType::mouseMoved;
    EventSourceState source = EventSourceState::hidSystem;
    /// Pointer events: global screen point, origin top-left of the main display, y downward.
    Point location;
    MouseButton button = MouseButton::left;
    /// The click-state field of button events (1 single, 2 double, 3 triple).
    int64_t clickState = 0;
    /// Keyboard events: the virtual key code, and the text the key types (UTF-16 units; empty
    /// means the receiver derives it from the key code).
    uint16_t keyCode = 0;
    std::u16string unicode;
    EventFlags flags = 0;
    /// Scroll-wheel events, in lines: vertical (positive up) and horizontal (positive left).
    int32_t wheel1 = 0;
    int32_t wheel2 = 0;
    /// The source user-data field; the program writes its own mark there.
    int64_t sourceUserData = 0;
};

class Events {
  public:
    virtual ~Events() = default;
    /// A pointer-moved or button event at `location`; nothing when it cannot be created.
    virtual std::optional<InputEvent> createMouseEvent(EventSourceState source, EventType type,
                                                       Point location, MouseButton button) = 0;
    /// A key-down (`down`) or key-up event for `keyCode`; nothing when it cannot be created.
    virtual std::optional<InputEvent> createKeyboardEvent(EventSourceState source, uint16_t keyCode,
                                                          bool down) = 0;
    /// A scroll-wheel event in line units with two wheels; nothing when it cannot be created.
    virtual std::optional<InputEvent> createScrollWheelEvent(EventSourceState source,
                                                             int32_t wheel1, int32_t wheel2) = 0;
    /// Posts at the hardware event tap: the event reaches whatever app is frontmost, and
    /// pointer events move the pointer.
    virtual void postSystem(const InputEvent& event) = 0;
    /// Posts to one process only; neither the pointer nor the frontmost app changes.
    virtual void postToProcess(const InputEvent& event, pid_t pid) = 0;
    /// Where the pointer is now; nothing when it cannot be read.
    virtual std::optional<Point> pointerLocation() = 0;
    /// Moves the pointer without posting any event.
    virtual void warpPointer(Point location) = 0;
};

}  // namespace pelko::computer
