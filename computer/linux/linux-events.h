// The input seam on X11. Events posted at the system level go through XTest, as if the user
// typed and moved the mouse; every key press is recorded (with its mark) so the Escape monitor
// can tell it from the user's. Events posted to one process are sent to its top window with
// XSendEvent: the pointer and the focus stay where they are, and toolkits that refuse sent
// events ignore them (the acting methods then take their next way).
//
// Text arrives as key events carrying a string: each character is typed with the key that
// makes it, with Shift where it needs it; a character no key makes is put on a spare key code
// (one with no keysym, which no keyboard sends), where it stays while other spares are free.
#pragma once

#include <sys/types.h>

#include <mutex>
#include <vector>

#include "change-count.h"
#include "key-mapping.h"
#include "platform/events.h"
#include "x11-desktop.h"

namespace pelko::computer::linux_desktop {

class LinuxEvents final : public Events {
  public:
    /// `display` is this part's own connection; points are global (see `primaryOrigin`).
    LinuxEvents(DisplayPtr display, X11Desktop& x11, PostedKeys& posted, ChangeCount& changes);
    ~LinuxEvents() override;

    std::optional<InputEvent> createMouseEvent(EventSourceState source, EventType type,
                                               Point location, MouseButton button) override;
    std::optional<InputEvent> createKeyboardEvent(EventSourceState source, uint16_t keyCode,
                                                  bool down) override;
    std::optional<InputEvent> createScrollWheelEvent(EventSourceState source, int32_t wheel1,
                                                     int32_t wheel2) override;
    void postSystem(const InputEvent& event) override;
    void postToProcess(const InputEvent& event, pid_t pid) override;
    std::optional<Point> pointerLocation() override;
    void warpPointer(Point location) override;

    /// Whether the server offers XTest (without it, system-level events do nothing).
    bool hasXTest() const { return hasXTest_; }

  private:
    /// A key to press: its X key code and whether Shift must be held for it.
    struct Key {
        unsigned keycode = 0;
        bool shift = false;
    };
    /// The key that types `keysym`, lending it a spare key code when no key does.
    Key keyFor(KeySym keysym);
    void fakeKey(unsigned keycode, bool down, int64_t mark);
    void typeSystem(const std::u16string& text, int64_t mark);
    void keySystem(const InputEvent& event, bool down);
    void sendKey(uint64_t window, unsigned keycode, unsigned state, bool down);
    Point toRoot(Point global);

    std::mutex mutex_;
    DisplayPtr display_;
    X11Desktop& x11_;
    PostedKeys& posted_;
    ChangeCount& changes_;
    bool hasXTest_ = false;
    /// Key codes with no keysym at all, lent to characters no key makes.
    std::vector<unsigned> spareKeycodes_;
    /// The spare key codes lent so far, with the character each has now and its last use.
    struct Lent {
        unsigned keycode = 0;
        KeySym keysym = 0;
        uint64_t lastUse = 0;
    };
    std::vector<Lent> lent_;
    uint64_t uses_ = 0;
};

}  // namespace pelko::computer::linux_desktop
