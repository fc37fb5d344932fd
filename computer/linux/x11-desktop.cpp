#include "x11-desktop.h"

#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xrandr.h>

#include <cmath>
#include <cstdlib>
#include <limits>
#include <string_view>

#include "utf8.h"

namespace pelko::computer::linux_desktop {
namespace {

struct XFreeDeleter {
    void operator()(void* data) const {
        if (data) XFree(data);
    }
};
template <typename T>
using XPtr = std::unique_ptr<T, XFreeDeleter>;

// A window property of `type` and item size `format` (8 or 32 bits), with its item count;
// nothing when the window has no such property.
struct Property {
    XPtr<unsigned char> data;
    unsigned long count = 0;
};
std::optional<Property> property(Display* display, Window window, Atom name, Atom type,
                                 int format) {
    Atom actualType = None;
    int actualFormat = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(display, window, name, 0, 1 << 16, False, type, &actualType,
                           &actualFormat, &count, &after, &data) != Success)
        return std::nullopt;
    XPtr<unsigned char> owned(data);
    if (!data || actualFormat != format || actualType != type) return std::nullopt;
    return Property{std::move(owned), count};
}

// A property as a list of 32-bit items (Xlib hands them over as longs).
std::vector<unsigned long> longs(Display* display, Window window, Atom name, Atom type) {
    const auto found = property(display, window, name, type, 32);
    if (!found) return {};
    const auto* items = reinterpret_cast<const unsigned long*>(found->data.get());
    return std::vector<unsigned long>(items, items + found->count);
}

std::optional<std::string> textProperty(Display* display, Window window, Atom name, Atom type) {
    const auto found = property(display, window, name, type, 8);
    if (!found) return std::nullopt;
    return std::string(reinterpret_cast<const char*>(found->data.get()), found->count);
}

std::string latin1ToUTF8(std::string_view text) {
    std::string converted;
    for (const char byte : text) appendUTF8(converted, static_cast<unsigned char>(byte));
    return converted;
}

// Errors of requests on windows that went away in the meantime are expected; they must not end
// the process (Xlib's default handler exits).
int ignoreErrors(Display*, XErrorEvent*) {
    return 0;
}

}  // namespace

void initX11Threads() {
    static std::once_flag once;
    std::call_once(once, [] {
        XInitThreads();
        XSetErrorHandler(ignoreErrors);
    });
}

DisplayPtr openDisplay(std::string& error) {
    initX11Threads();
    const char* name = std::getenv("DISPLAY");
    if (!name || !*name) {
        error = "DISPLAY is not set";
        return nullptr;
    }
    Display* display = XOpenDisplay(name);
    if (!display) {
        error = std::string("the X display ") + name + " does not answer";
        return nullptr;
    }
    return DisplayPtr(display);
}

std::optional<WindowInfo> windowOf(const std::vector<WindowInfo>& windows, pid_t pid,
                                   const std::optional<Rect>& frame) {
    std::optional<WindowInfo> best;
    double bestDistance = std::numeric_limits<double>::infinity();
    for (const auto& window : windows) {
        if (window.pid != pid) continue;
        double distance = 0;
        if (frame) {
            distance = std::abs(window.frame.origin.x - frame->origin.x) +
                       std::abs(window.frame.origin.y - frame->origin.y) +
                       std::abs(window.frame.size.width - frame->size.width) +
                       std::abs(window.frame.size.height - frame->size.height);
        }
        // The topmost among equals: the list runs bottom to top.
        if (distance <= bestDistance) {
            best = window;
            bestDistance = distance;
        }
    }
    return best;
}

X11Desktop::X11Desktop(DisplayPtr display) : display_(std::move(display)) {}

Atom X11Desktop::atom(const char* name) {
    return XInternAtom(display_.get(), name, False);
}

Point X11Desktop::primaryOrigin() {
    for (const auto& monitor : monitors()) {
        if (monitor.primary) return monitor.frame.origin;
    }
    return {};
}

std::vector<Monitor> X11Desktop::monitors() {
    std::lock_guard lock(mutex_);
    Display* display = display_.get();
    const Window root = DefaultRootWindow(display);
    std::vector<Monitor> found;
    int event = 0, error = 0;
    if (XRRQueryExtension(display, &event, &error)) {
        int count = 0;
        XRRMonitorInfo* infos = XRRGetMonitors(display, root, True, &count);
        for (int i = 0; i < count; ++i) {
            Monitor monitor{
                {{static_cast<double>(infos[i].x), static_cast<double>(infos[i].y)},
                 {static_cast<double>(infos[i].width), static_cast<double>(infos[i].height)}},
                infos[i].primary != 0};
            if (monitor.primary)
                found.insert(found.begin(), monitor);
            else
                found.push_back(monitor);
        }
        if (infos) XRRFreeMonitors(infos);
    }
    if (found.empty()) {
        found.push_back({{{0, 0},
                          {static_cast<double>(DisplayWidth(display, DefaultScreen(display))),
                           static_cast<double>(DisplayHeight(display, DefaultScreen(display)))}},
                         true});
    }
    found.front().primary = true;
    return found;
}

std::optional<Rect> X11Desktop::workArea() {
    std::lock_guard lock(mutex_);
    Display* display = display_.get();
    const Window root = DefaultRootWindow(display);
    const auto areas = longs(display, root, atom("_NET_WORKAREA"), XA_CARDINAL);
    if (areas.size() < 4) return std::nullopt;
    const auto current = longs(display, root, atom("_NET_CURRENT_DESKTOP"), XA_CARDINAL);
    size_t desktop = current.empty() ? 0 : current.front();
    if (4 * desktop + 3 >= areas.size()) desktop = 0;
    const unsigned long* area = &areas[4 * desktop];
    return Rect{{static_cast<double>(static_cast<long>(area[0])),
                 static_cast<double>(static_cast<long>(area[1]))},
                {static_cast<double>(area[2]), static_cast<double>(area[3])}};
}

std::optional<Point> X11Desktop::pointer() {
    std::lock_guard lock(mutex_);
    Display* display = display_.get();
    Window rootReturn = 0, child = 0;
    int rootX = 0, rootY = 0, x = 0, y = 0;
    unsigned int mask = 0;
    if (!XQueryPointer(display, DefaultRootWindow(display), &rootReturn, &child, &rootX, &rootY, &x,
                       &y, &mask))
        return std::nullopt;
    return Point{static_cast<double>(rootX), static_cast<double>(rootY)};
}

bool X11Desktop::hasWindowManager() {
    std::lock_guard lock(mutex_);
    Display* display = display_.get();
    return !longs(display, DefaultRootWindow(display), atom("_NET_SUPPORTING_WM_CHECK"), XA_WINDOW)
                .empty();
}

bool X11Desktop::canReadScreen() {
    std::lock_guard lock(mutex_);
    Display* display = display_.get();
    XImage* image = XGetImage(display, DefaultRootWindow(display), 0, 0, 1, 1, AllPlanes, ZPixmap);
    if (!image) return false;
    XDestroyImage(image);
    return true;
}

std::vector<Window> X11Desktop::clientList() {
    Display* display = display_.get();
    const Window root = DefaultRootWindow(display);
    auto list = longs(display, root, atom("_NET_CLIENT_LIST_STACKING"), XA_WINDOW);
    if (list.empty()) list = longs(display, root, atom("_NET_CLIENT_LIST"), XA_WINDOW);
    std::vector<Window> windows(list.begin(), list.end());
    if (!windows.empty()) return windows;
    // No window manager: the root's mapped children that name their process, bottom to top.
    Window rootReturn = 0, parent = 0;
    Window* children = nullptr;
    unsigned int count = 0;
    if (!XQueryTree(display, root, &rootReturn, &parent, &children, &count)) return {};
    XPtr<Window> owned(children);
    const Atom pidAtom = atom("_NET_WM_PID");
    for (unsigned int i = 0; i < count; ++i) {
        XWindowAttributes attributes;
        if (!XGetWindowAttributes(display, children[i], &attributes)) continue;
        if (attributes.map_state != IsViewable || attributes.override_redirect) continue;
        if (longs(display, children[i], pidAtom, XA_CARDINAL).empty()) continue;
        windows.push_back(children[i]);
    }
    return windows;
}

std::optional<WindowInfo> X11Desktop::describe(Window window) {
    Display* display = display_.get();
    WindowInfo info;
    info.id = window;
    const auto pid = longs(display, window, atom("_NET_WM_PID"), XA_CARDINAL);
    if (pid.empty()) return std::nullopt;
    info.pid = static_cast<pid_t>(pid.front());
    // Titles are whatever bytes the window's client set: the UTF-8 one is repaired where it is
    // not UTF-8, the old one is Latin-1.
    if (auto title = textProperty(display, window, atom("_NET_WM_NAME"), atom("UTF8_STRING")))
        info.title = repairUTF8(*title);
    else
        info.title =
            latin1ToUTF8(textProperty(display, window, XA_WM_NAME, XA_STRING).value_or(""));
    XClassHint hint{};
    if (XGetClassHint(display, window, &hint)) {
        if (hint.res_class) info.windowClass = hint.res_class;
        XFree(hint.res_name);
        XFree(hint.res_class);
    }
    XWindowAttributes attributes;
    if (!XGetWindowAttributes(display, window, &attributes)) return std::nullopt;
    int x = 0, y = 0;
    Window child = 0;
    XTranslateCoordinates(display, window, DefaultRootWindow(display), 0, 0, &x, &y, &child);
    info.frame = {{static_cast<double>(x), static_cast<double>(y)},
                  {static_cast<double>(attributes.width), static_cast<double>(attributes.height)}};
    const Atom hiddenState = atom("_NET_WM_STATE_HIDDEN");
    const Atom skipTaskbar = atom("_NET_WM_STATE_SKIP_TASKBAR");
    for (const auto state : longs(display, window, atom("_NET_WM_STATE"), XA_ATOM)) {
        if (state == hiddenState) info.hidden = true;
        if (state == skipTaskbar) info.normal = false;
    }
    const auto wmState = longs(display, window, atom("WM_STATE"), atom("WM_STATE"));
    if (!wmState.empty() && wmState.front() == IconicState) info.hidden = true;
    const auto desktops = longs(display, window, atom("_NET_WM_DESKTOP"), XA_CARDINAL);
    const auto current =
        longs(display, DefaultRootWindow(display), atom("_NET_CURRENT_DESKTOP"), XA_CARDINAL);
    if (!desktops.empty() && !current.empty() && desktops.front() != 0xFFFFFFFFul)
        info.onCurrentDesktop = desktops.front() == current.front();
    const auto types = longs(display, window, atom("_NET_WM_WINDOW_TYPE"), XA_ATOM);
    if (!types.empty()) {
        const Atom type = types.front();
        info.desktop = type == atom("_NET_WM_WINDOW_TYPE_DESKTOP");
        info.normal = info.normal && (type == atom("_NET_WM_WINDOW_TYPE_NORMAL") ||
                                      type == atom("_NET_WM_WINDOW_TYPE_DIALOG") ||
                                      type == atom("_NET_WM_WINDOW_TYPE_UTILITY"));
    }
    return info;
}

std::vector<WindowInfo> X11Desktop::windows() {
    std::lock_guard lock(mutex_);
    std::vector<WindowInfo> infos;
    for (const Window window : clientList()) {
        if (auto info = describe(window)) infos.push_back(std::move(*info));
    }
    return infos;
}

uint64_t X11Desktop::activeWindow() {
    std::lock_guard lock(mutex_);
    Display* display = display_.get();
    const auto active =
        longs(display, DefaultRootWindow(display), atom("_NET_ACTIVE_WINDOW"), XA_WINDOW);
    if (!active.empty() && active.front() != None) return active.front();
    // Without a window manager, the window that has the keyboard focus.
    Window focus = None;
    int revert = 0;
    XGetInputFocus(display, &focus, &revert);
    return focus == PointerRoot ? None : focus;
}

std::optional<pid_t> X11Desktop::activePid() {
    const uint64_t window = activeWindow();
    if (!window) return std::nullopt;
    std::lock_guard lock(mutex_);
    const auto pid = longs(display_.get(), window, atom("_NET_WM_PID"), XA_CARDINAL);
    if (pid.empty()) return std::nullopt;
    return static_cast<pid_t>(pid.front());
}

bool X11Desktop::activate(uint64_t window) {
    std::lock_guard lock(mutex_);
    Display* display = display_.get();
    const Window root = DefaultRootWindow(display);
    if (longs(display, root, atom("_NET_SUPPORTING_WM_CHECK"), XA_WINDOW).empty()) {
        XMapRaised(display, window);
        XSetInputFocus(display, window, RevertToParent, CurrentTime);
        XFlush(display);
        return true;
    }
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = atom("_NET_ACTIVE_WINDOW");
    event.xclient.format = 32;
    // Source 2 (a pager): the request comes from the user's own tool, so the window manager
    // does not hold it back as focus stealing.
    event.xclient.data.l[0] = 2;
    event.xclient.data.l[1] = CurrentTime;
    const bool sent =
        XSendEvent(display, root, False, SubstructureRedirectMask | SubstructureNotifyMask, &event);
    XFlush(display);
    return sent;
}

bool X11Desktop::minimize(uint64_t window) {
    std::lock_guard lock(mutex_);
    Display* display = display_.get();
    const bool sent = XIconifyWindow(display, window, DefaultScreen(display));
    XFlush(display);
    return sent;
}

}  // namespace pelko::computer::linux_desktop
