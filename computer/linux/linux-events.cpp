#include "linux-events.h"

#include <X11/XKBlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <algorithm>
#include <cmath>

#include "utf8.h"

namespace pelko::computer::linux_desktop {
namespace {

unsigned buttonNumber(MouseButton button) {
    switch (button) {
        case MouseButton::right:
            return 3;
        case MouseButton::center:
            return 2;
        case MouseButton::left:
            break;
    }
    return 1;
}

bool isButtonDown(EventType type) {
    return type == EventType::leftMouseDown || type == EventType::rightMouseDown ||
           type == EventType::otherMouseDown;
}

bool isButtonUp(EventType type) {
    return type == EventType::leftMouseUp || type == EventType::rightMouseUp ||
           type == EventType::otherMouseUp;
}

// The Unicode scalars of UTF-16 text (unpaired surrogates read as U+FFFD).
std::vector<char32_t> scalarsOf(const std::u16string& text) {
    std::vector<char32_t> scalars;
    for (size_t i = 0; i < text.size(); ++i) {
        const char16_t unit = text[i];
        if (unit >= 0xD800 && unit < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] < 0xE000) {
            scalars.push_back(0x10000 + ((unit - 0xD800) << 10) + (text[i + 1] - 0xDC00));
            ++i;
        } else if (unit >= 0xD800 && unit < 0xE000) {
            scalars.push_back(0xFFFD);
        } else {
            scalars.push_back(unit);
        }
    }
    return scalars;
}

// Text typed from a key event: a string on a key-code-0 event without modifiers. A key press
// of the key with code 0 ("a") to one process carries "a" too; typed either way it is "a".
bool isTypedText(const InputEvent& event) {
    if (event.unicode.empty() || event.flags != 0 || event.keyCode != 0) return false;
    return event.unicode != u"a";
}

// Wheel lines as presses of the wheel buttons: 4 up, 5 down, 6 left, 7 right.
std::vector<unsigned> wheelPresses(int32_t vertical, int32_t horizontal) {
    std::vector<unsigned> presses;
    for (int32_t i = 0; i < std::abs(vertical); ++i) presses.push_back(vertical > 0 ? 4 : 5);
    for (int32_t i = 0; i < std::abs(horizontal); ++i) presses.push_back(horizontal > 0 ? 6 : 7);
    return presses;
}

}  // namespace

LinuxEvents::LinuxEvents(DisplayPtr display, X11Desktop& x11, PostedKeys& posted,
                         ChangeCount& changes)
    : display_(std::move(display)), x11_(x11), posted_(posted), changes_(changes) {
    Display* dpy = display_.get();
    int event = 0, error = 0, major = 0, minor = 0;
    hasXTest_ = XTestQueryExtension(dpy, &event, &error, &major, &minor);
    // Key codes that no key uses, for characters that no key types.
    int first = 0, last = 0, perCode = 0;
    XDisplayKeycodes(dpy, &first, &last);
    KeySym* map = XGetKeyboardMapping(dpy, static_cast<KeyCode>(first), last - first + 1, &perCode);
    if (map) {
        for (int code = last; code >= first && spareKeycodes_.size() < 16; --code) {
            const KeySym* syms = map + (code - first) * perCode;
            if (std::all_of(syms, syms + perCode, [](KeySym sym) { return sym == NoSymbol; }))
                spareKeycodes_.push_back(static_cast<unsigned>(code));
        }
        XFree(map);
    }
}

LinuxEvents::~LinuxEvents() {
    // The lent key codes go back to having no keysym.
    Display* dpy = display_.get();
    for (const auto& lent : lent_) {
        KeySym none[2] = {NoSymbol, NoSymbol};
        XChangeKeyboardMapping(dpy, static_cast<int>(lent.keycode), 2, none, 1);
    }
    XSync(dpy, False);
}

Point LinuxEvents::toRoot(Point global) {
    const Point origin = x11_.primaryOrigin();
    return {global.x + origin.x, global.y + origin.y};
}

std::optional<InputEvent> LinuxEvents::createMouseEvent(EventSourceState source, EventType type,
                                                        Point location, MouseButton button) {
    InputEvent event;
    event.type = type;
    event.source = source;
    event.location = location;
    event.button = button;
    return event;
}

std::optional<InputEvent> LinuxEvents::createKeyboardEvent(EventSourceState source,
                                                           uint16_t keyCode, bool down) {
    InputEvent event;
    event.type = down ? EventType::keyDown : EventType::keyUp;
    event.source = source;
    event.keyCode = keyCode;
    return event;
}

std::optional<InputEvent> LinuxEvents::createScrollWheelEvent(EventSourceState source,
                                                              int32_t wheel1, int32_t wheel2) {
    InputEvent event;
    event.type = EventType::scrollWheel;
    event.source = source;
    event.wheel1 = wheel1;
    event.wheel2 = wheel2;
    return event;
}

LinuxEvents::Key LinuxEvents::keyFor(KeySym keysym) {
    Display* dpy = display_.get();
    ++uses_;
    for (auto& lent : lent_) {
        if (lent.keysym == keysym) {
            lent.lastUse = uses_;
            return {lent.keycode, false};
        }
    }
    const KeyCode code = XKeysymToKeycode(dpy, keysym);
    if (code) {
        if (XkbKeycodeToKeysym(dpy, code, 0, 0) == keysym) return {code, false};
        if (XkbKeycodeToKeysym(dpy, code, 0, 1) == keysym) return {code, true};
    }
    // No key makes it on its first two levels: a spare key code is lent to it. Clients read
    // the new mapping only when they handle the mapping's change, so a lent code keeps its
    // character as long as it can: the one used longest ago is lent anew.
    if (spareKeycodes_.empty()) return {};
    Lent* chosen = nullptr;
    if (lent_.size() < spareKeycodes_.size()) {
        lent_.push_back({spareKeycodes_[lent_.size()], NoSymbol, 0});
        chosen = &lent_.back();
    } else {
        chosen = &*std::min_element(lent_.begin(), lent_.end(), [](const Lent& a, const Lent& b) {
            return a.lastUse < b.lastUse;
        });
    }
    KeySym syms[2] = {keysym, keysym};
    XChangeKeyboardMapping(dpy, static_cast<int>(chosen->keycode), 2, syms, 1);
    XSync(dpy, False);
    chosen->keysym = keysym;
    chosen->lastUse = uses_;
    return {chosen->keycode, false};
}

void LinuxEvents::fakeKey(unsigned keycode, bool down, int64_t mark) {
    if (!keycode || !hasXTest_) return;
    if (down) posted_.record(keycode, mark);
    XTestFakeKeyEvent(display_.get(), keycode, down, CurrentTime);
}

void LinuxEvents::typeSystem(const std::u16string& text, int64_t mark) {
    Display* dpy = display_.get();
    const unsigned shift = XKeysymToKeycode(dpy, XK_Shift_L);
    for (const char32_t scalar : scalarsOf(text)) {
        const Key key = keyFor(keysymOfScalar(scalar));
        if (!key.keycode) continue;
        if (key.shift) fakeKey(shift, true, mark);
        fakeKey(key.keycode, true, mark);
        fakeKey(key.keycode, false, mark);
        if (key.shift) fakeKey(shift, false, mark);
    }
    XSync(dpy, False);
}

void LinuxEvents::keySystem(const InputEvent& event, bool down) {
    Display* dpy = display_.get();
    const auto keysym = keysymOfKeyCode(event.keyCode);
    if (!keysym) return;
    const Key key = keyFor(*keysym);
    std::vector<unsigned> modifiers;
    for (const KeySym modifier : modifierKeysyms(event.flags)) {
        if (const KeyCode code = XKeysymToKeycode(dpy, modifier)) modifiers.push_back(code);
    }
    if (down) {
        for (const unsigned modifier : modifiers) fakeKey(modifier, true, event.sourceUserData);
        fakeKey(key.keycode, true, event.sourceUserData);
    } else {
        fakeKey(key.keycode, false, event.sourceUserData);
        for (auto it = modifiers.rbegin(); it != modifiers.rend(); ++it)
            fakeKey(*it, false, event.sourceUserData);
    }
    XSync(dpy, False);
}

void LinuxEvents::postSystem(const InputEvent& event) {
    std::lock_guard lock(mutex_);
    Display* dpy = display_.get();
    if (!hasXTest_) return;
    changes_.bump();
    switch (event.type) {
        case EventType::mouseMoved: {
            const Point root = toRoot(event.location);
            XTestFakeMotionEvent(dpy, -1, static_cast<int>(std::lround(root.x)),
                                 static_cast<int>(std::lround(root.y)), CurrentTime);
            break;
        }
        case EventType::keyDown:
            if (isTypedText(event))
                typeSystem(event.unicode, event.sourceUserData);
            else
                keySystem(event, true);
            break;
        case EventType::keyUp:
            // Typed text went out whole with its key-down event.
            if (!isTypedText(event)) keySystem(event, false);
            break;
        case EventType::scrollWheel:
            for (const unsigned button : wheelPresses(event.wheel1, event.wheel2)) {
                XTestFakeButtonEvent(dpy, button, True, CurrentTime);
                XTestFakeButtonEvent(dpy, button, False, CurrentTime);
            }
            break;
        default: {
            // A button event happens where the pointer is, so the pointer goes there first.
            const Point root = toRoot(event.location);
            XTestFakeMotionEvent(dpy, -1, static_cast<int>(std::lround(root.x)),
                                 static_cast<int>(std::lround(root.y)), CurrentTime);
            XTestFakeButtonEvent(dpy, buttonNumber(event.button), isButtonDown(event.type),
                                 CurrentTime);
            break;
        }
    }
    XFlush(dpy);
}

void LinuxEvents::sendKey(uint64_t window, unsigned keycode, unsigned state, bool down) {
    Display* dpy = display_.get();
    XEvent event{};
    XKeyEvent& key = event.xkey;
    key.type = down ? KeyPress : KeyRelease;
    key.display = dpy;
    key.window = window;
    key.root = DefaultRootWindow(dpy);
    key.subwindow = None;
    key.time = CurrentTime;
    key.same_screen = True;
    key.keycode = keycode;
    key.state = state;
    // No event mask: the event goes to the client that made the window, whatever it selected
    // (toolkits that read the keyboard through XInput2 select no core key events).
    XSendEvent(dpy, window, False, NoEventMask, &event);
}

void LinuxEvents::postToProcess(const InputEvent& event, pid_t pid) {
    std::optional<WindowInfo> target;
    for (const auto& window : x11_.windows()) {
        if (window.pid == pid && window.normal && !window.hidden) target = window;
    }
    std::lock_guard lock(mutex_);
    if (!target) return;
    Display* dpy = display_.get();
    changes_.bump();
    if (event.type == EventType::keyDown || event.type == EventType::keyUp) {
        const bool down = event.type == EventType::keyDown;
        if (isTypedText(event)) {
            if (!down) return;
            for (const char32_t scalar : scalarsOf(event.unicode)) {
                const Key key = keyFor(keysymOfScalar(scalar));
                if (!key.keycode) continue;
                const unsigned state = key.shift ? ShiftMask : 0;
                sendKey(target->id, key.keycode, state, true);
                sendKey(target->id, key.keycode, state, false);
            }
        } else if (const auto keysym = keysymOfKeyCode(event.keyCode)) {
            const Key key = keyFor(*keysym);
            unsigned state = key.shift ? ShiftMask : 0;
            if (event.flags & (eventFlagCommand | eventFlagControl)) state |= ControlMask;
            if (event.flags & eventFlagAlternate) state |= Mod1Mask;
            if (event.flags & eventFlagShift) state |= ShiftMask;
            sendKey(target->id, key.keycode, state, down);
        }
    } else if (event.type == EventType::scrollWheel || isButtonDown(event.type) ||
               isButtonUp(event.type) || event.type == EventType::mouseMoved) {
        // Pointer events for toolkits that take sent ones: at the point inside the window.
        const Point root = toRoot(event.location);
        XEvent sent{};
        XButtonEvent& button = sent.xbutton;
        button.display = dpy;
        button.window = target->id;
        button.root = DefaultRootWindow(dpy);
        button.time = CurrentTime;
        button.same_screen = True;
        button.x_root = static_cast<int>(std::lround(root.x));
        button.y_root = static_cast<int>(std::lround(root.y));
        button.x = button.x_root - static_cast<int>(target->frame.origin.x);
        button.y = button.y_root - static_cast<int>(target->frame.origin.y);
        if (event.type == EventType::scrollWheel) {
            for (const unsigned number : wheelPresses(event.wheel1, event.wheel2)) {
                button.button = number;
                button.type = ButtonPress;
                XSendEvent(dpy, target->id, True, ButtonPressMask, &sent);
                button.type = ButtonRelease;
                XSendEvent(dpy, target->id, True, ButtonReleaseMask, &sent);
            }
        } else if (event.type != EventType::mouseMoved) {
            button.button = buttonNumber(event.button);
            button.type = isButtonDown(event.type) ? ButtonPress : ButtonRelease;
            XSendEvent(dpy, target->id, True,
                       isButtonDown(event.type) ? ButtonPressMask : ButtonReleaseMask, &sent);
        }
    }
    XSync(dpy, False);
}

std::optional<Point> LinuxEvents::pointerLocation() {
    const auto root = x11_.pointer();
    if (!root) return std::nullopt;
    const Point origin = x11_.primaryOrigin();
    return Point{root->x - origin.x, root->y - origin.y};
}

void LinuxEvents::warpPointer(Point location) {
    const Point root = toRoot(location);
    std::lock_guard lock(mutex_);
    Display* dpy = display_.get();
    XWarpPointer(dpy, None, DefaultRootWindow(dpy), 0, 0, 0, 0,
                 static_cast<int>(std::lround(root.x)), static_cast<int>(std::lround(root.y)));
    XFlush(dpy);
}

}  // namespace pelko::computer::linux_desktop
