#include "linux-application.h"

#include <X11/XKBlib.h>
#include <X11/extensions/XInput2.h>
#include <poll.h>

#include <cerrno>

namespace pelko::computer::linux_desktop {

LinuxApplication::LinuxApplication(MainLoop& mainLoop, PostedKeys& posted)
    : mainLoop_(mainLoop), posted_(posted) {}

LinuxApplication::~LinuxApplication() {
    if (thread_.joinable()) {
        [[maybe_unused]] const auto woke = writeAll(wake_.writeEnd.get(), "x");
        thread_.join();
    }
}

bool LinuxApplication::addGlobalKeyDownMonitor(std::function<void(const KeyDown&)> handler) {
    std::lock_guard lock(mutex_);
    if (thread_.joinable()) {
        handlers_.push_back(std::move(handler));
        return true;
    }
    std::string error;
    DisplayPtr display = openDisplay(error);
    if (!display) return false;
    int opcode = 0, event = 0, failure = 0;
    if (!XQueryExtension(display.get(), "XInputExtension", &opcode, &event, &failure)) return false;
    int major = 2, minor = 1;
    if (XIQueryVersion(display.get(), &major, &minor) != Success || (major == 2 && minor < 1))
        return false;
    unsigned char bits[XIMaskLen(XI_LASTEVENT)] = {};
    XISetMask(bits, XI_RawKeyPress);
    XIEventMask mask{XIAllMasterDevices, static_cast<int>(sizeof bits), bits};
    XISelectEvents(display.get(), DefaultRootWindow(display.get()), &mask, 1);
    XFlush(display.get());
    auto pipe = makePipe();
    if (!pipe) return false;
    wake_ = std::move(pipe).take();
    handlers_.push_back(std::move(handler));
    display_ = std::move(display);
    thread_ = std::thread([this, opcode] { readEvents(display_.get(), opcode); });
    return true;
}

void LinuxApplication::readEvents(Display* display, int opcode) {
    pollfd fds[2] = {{ConnectionNumber(display), POLLIN, 0}, {wake_.readEnd.get(), POLLIN, 0}};
    for (;;) {
        while (XPending(display)) {
            XEvent event;
            XNextEvent(display, &event);
            XGenericEventCookie& cookie = event.xcookie;
            if (cookie.type != GenericEvent || cookie.extension != opcode ||
                !XGetEventData(display, &cookie))
                continue;
            if (cookie.evtype == XI_RawKeyPress) {
                const auto* raw = static_cast<const XIRawEvent*>(cookie.data);
                const unsigned keycode = static_cast<unsigned>(raw->detail);
                // Every press is matched, so the record of posted keys never holds stale ones.
                const int64_t mark = posted_.claim(keycode).value_or(0);
                const KeySym keysym =
                    XkbKeycodeToKeysym(display, static_cast<KeyCode>(keycode), 0, 0);
                if (const auto code = keyCodeOfKeysym(keysym)) {
                    const KeyDown key{*code, mark};
                    mainLoop_.post([this, key] {
                        std::vector<std::function<void(const KeyDown&)>> handlers;
                        {
                            std::lock_guard lock(mutex_);
                            handlers = handlers_;
                        }
                        for (const auto& handler : handlers) handler(key);
                    });
                }
            }
            XFreeEventData(display, &cookie);
        }
        if (poll(fds, 2, -1) < 0 && errno != EINTR) return;
        if (fds[1].revents) return;
        if (fds[0].revents & (POLLHUP | POLLERR)) return;
    }
}

}  // namespace pelko::computer::linux_desktop
