#include "linux-screen-capture.h"

#include <X11/Xutil.h>
#include <X11/extensions/Xcomposite.h>
#include <X11/extensions/Xdamage.h>
#include <poll.h>

#include <algorithm>

namespace pelko::computer::linux_desktop {
namespace {

// How long an app may take to draw a window into its new off-screen copy, and how long its
// drawing must have rested before the picture is taken.
constexpr Duration repaintLimit = std::chrono::milliseconds(500);
constexpr Duration repaintQuiet = std::chrono::milliseconds(50);

struct ImageDestroy {
    void operator()(XImage* image) const { XDestroyImage(image); }
};
using ImagePtr = std::unique_ptr<XImage, ImageDestroy>;

// The child of the root that holds `window` (the window manager's frame, or the window).
Window topLevelOf(Display* display, Window window) {
    const Window root = DefaultRootWindow(display);
    Window current = window;
    for (int depth = 0; depth < 64; ++depth) {
        Window rootReturn = 0, parent = 0, *children = nullptr;
        unsigned count = 0;
        if (!XQueryTree(display, current, &rootReturn, &parent, &children, &count)) return window;
        if (children) XFree(children);
        if (parent == root || parent == 0) return current;
        current = parent;
    }
    return window;
}

// The image's pixels as blue, green, red, alpha bytes, opaque. An image of a pixmap carries no
// colour masks; the window's visual gives them.
WindowImage toBGRA(XImage* image, const Visual* visual) {
    if (!image->red_mask && visual) {
        image->red_mask = visual->red_mask;
        image->green_mask = visual->green_mask;
        image->blue_mask = visual->blue_mask;
    }
    WindowImage out;
    out.width = image->width;
    out.height = image->height;
    out.bytesPerRow = image->width * 4;
    out.pixels.resize(static_cast<size_t>(out.bytesPerRow) * out.height);
    const bool direct = image->bits_per_pixel == 32 && image->byte_order == LSBFirst &&
                        image->red_mask == 0xFF0000 && image->green_mask == 0xFF00 &&
                        image->blue_mask == 0xFF;
    for (int y = 0; y < image->height; ++y) {
        uint8_t* row = &out.pixels[static_cast<size_t>(y) * out.bytesPerRow];
        if (direct) {
            std::copy_n(reinterpret_cast<const uint8_t*>(image->data) + y * image->bytes_per_line,
                        out.bytesPerRow, row);
            for (int x = 0; x < image->width; ++x) row[4 * x + 3] = 0xFF;
            continue;
        }
        // Any other layout, through the masks.
        auto channel = [](unsigned long pixel, unsigned long mask) -> uint8_t {
            if (!mask) return 0;
            int shift = 0;
            while (!((mask >> shift) & 1)) ++shift;
            const unsigned long maximum = mask >> shift;
            return static_cast<uint8_t>(((pixel & mask) >> shift) * 255 / maximum);
        };
        for (int x = 0; x < image->width; ++x) {
            const unsigned long pixel = XGetPixel(image, x, y);
            row[4 * x] = channel(pixel, image->blue_mask);
            row[4 * x + 1] = channel(pixel, image->green_mask);
            row[4 * x + 2] = channel(pixel, image->red_mask);
            row[4 * x + 3] = 0xFF;
        }
    }
    return out;
}

}  // namespace

struct LinuxScreenCapture::Captured {
    std::optional<WindowImage> image;
    std::optional<std::string> error;
};

LinuxScreenCapture::LinuxScreenCapture(DisplayPtr display, X11Desktop& x11, Clock& clock)
    : display_(std::move(display)), x11_(x11), clock_(clock) {
    int event = 0, error = 0, major = 0, minor = 2;
    hasComposite_ = XCompositeQueryExtension(display_.get(), &event, &error) &&
                    XCompositeQueryVersion(display_.get(), &major, &minor) &&
                    (major > 0 || minor >= 2);
}

LinuxScreenCapture::~LinuxScreenCapture() = default;

void LinuxScreenCapture::shareableContent(const ContentFilter& filter,
                                          ContentCompletion completion) {
    queue_.async([this, filter, completion = std::move(completion)] {
        const Point origin = x11_.primaryOrigin();
        std::vector<ShareableWindow> listed;
        const auto windows = x11_.windows();
        // The stacking order runs bottom to top; the list runs front to back.
        for (auto window = windows.rbegin(); window != windows.rend(); ++window) {
            if (filter.excludingDesktopWindows && window->desktop) continue;
            if (filter.onScreenWindowsOnly && (window->hidden || !window->onCurrentDesktop))
                continue;
            ShareableWindow shareable;
            shareable.windowId = static_cast<uint32_t>(window->id);
            if (window->pid > 0) shareable.ownerPid = window->pid;
            // Docks, menus and the desktop are not ordinary windows.
            shareable.layer = window->normal && !window->desktop ? 0 : 1;
            shareable.frame = window->frame;
            shareable.frame.origin.x -= origin.x;
            shareable.frame.origin.y -= origin.y;
            if (!window->title.empty()) shareable.title = window->title;
            listed.push_back(std::move(shareable));
        }
        completion(std::move(listed), std::nullopt);
    });
}

LinuxScreenCapture::Captured LinuxScreenCapture::capture(uint32_t window) {
    Display* display = display_.get();
    XWindowAttributes attributes;
    if (!XGetWindowAttributes(display, window, &attributes)) return {{}, "the window is gone"};
    if (attributes.map_state != IsViewable) return {{}, "the window is not on screen"};
    ImagePtr image;
    if (hasComposite_) {
        if (!redirected_) {
            // Off-screen copies of every top-level window, kept by the server (which still
            // shows them on screen itself) for as long as this connection lasts.
            XCompositeRedirectSubwindows(display, DefaultRootWindow(display),
                                         CompositeRedirectAutomatic);
            XSync(display, False);
            redirected_ = true;
        }
        const Window top = topLevelOf(display, window);
        // A window's new copy starts empty, and an app draws only what it is told is exposed:
        // the first picture of each window asks it to draw all of it, and waits until it has.
        if (repainted_.insert(top).second) repaint(window, top);
        int x = 0, y = 0;
        Window child = 0;
        XTranslateCoordinates(display, window, top, 0, 0, &x, &y, &child);
        const Pixmap copy = XCompositeNameWindowPixmap(display, top);
        XSync(display, False);
        if (copy) {
            image.reset(XGetImage(display, copy, x, y, attributes.width, attributes.height,
                                  AllPlanes, ZPixmap));
            XFreePixmap(display, copy);
        }
    }
    // Without an off-screen copy: the window's pixels as they are on screen.
    if (!image)
        image.reset(XGetImage(display, window, 0, 0, attributes.width, attributes.height, AllPlanes,
                              ZPixmap));
    if (!image) return {{}, "the X server gave no pixels for the window"};
    return {toBGRA(image.get(), attributes.visual), std::nullopt};
}

void LinuxScreenCapture::repaint(unsigned long window, unsigned long top) {
    Display* display = display_.get();
    int event = 0, error = 0;
    const bool damage = XDamageQueryExtension(display, &event, &error);
    const Damage watch = damage ? XDamageCreate(display, top, XDamageReportNonEmpty) : 0;
    // Clearing the window paints its background (the first change seen) and makes the app draw
    // it anew (the changes after that); the picture waits until the drawing has settled.
    XClearArea(display, window, 0, 0, 0, 0, True);
    XFlush(display);
    if (!watch) {
        clock_.sleepFor(repaintLimit / 5);
        return;
    }
    const Instant start = clock_.now();
    Instant lastChange = start;
    int changes = 0;
    while (clock_.now() - start < repaintLimit) {
        while (XPending(display)) {
            XEvent received;
            XNextEvent(display, &received);
            if (received.type == event + XDamageNotify) {
                ++changes;
                lastChange = clock_.now();
                XDamageSubtract(display, watch, None, None);
            }
        }
        if (changes >= 2 && clock_.now() - lastChange >= repaintQuiet) break;
        pollfd connection{ConnectionNumber(display), POLLIN, 0};
        poll(&connection, 1, 10);
    }
    XDamageDestroy(display, watch);
    XSync(display, False);
}

void LinuxScreenCapture::captureWindow(const ShareableWindow& window, int, int,
                                       ImageCompletion completion) {
    queue_.async([this, id = window.windowId, completion = std::move(completion)] {
        Captured captured = capture(id);
        completion(std::move(captured.image), std::move(captured.error));
    });
}

}  // namespace pelko::computer::linux_desktop
