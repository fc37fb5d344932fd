#include "x11-desktop.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cstdlib>
#include <cstring>
#include <thread>

#include "child-process.h"

namespace pelko::testing {

std::string desktopUnavailableReason() {
    if (const char* reason = std::getenv("PELKO_DESKTOP_UNAVAILABLE"); reason && *reason)
        return std::string("no X11 desktop: ") + reason;
    const char* session = std::getenv("PELKO_DESKTOP_SESSION");
    if (!session || std::string(session) != "1")
        return "not inside scripts/desktop-session (ctest runs these tests there)";
    if (!DisplayConnection().get()) return "the desktop session's X server does not answer";
    return "";
}

DisplayConnection::DisplayConnection() : display_(XOpenDisplay(nullptr)) {}

DisplayConnection::~DisplayConnection() {
    if (display_) XCloseDisplay(display_);
}

SurfacePtr grabScreen(Display* display, int x, int y, int width, int height) {
    SurfacePtr image(cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height));
    XImage* picture =
        XGetImage(display, DefaultRootWindow(display), x, y, static_cast<unsigned>(width),
                  static_cast<unsigned>(height), AllPlanes, ZPixmap);
    if (!picture) return image;
    cairo_surface_flush(image.get());
    unsigned char* data = cairo_image_surface_get_data(image.get());
    const int stride = cairo_image_surface_get_stride(image.get());
    for (int row = 0; row < height; ++row) {
        auto* out = reinterpret_cast<uint32_t*>(data + static_cast<size_t>(row) * stride);
        for (int column = 0; column < width; ++column) {
            unsigned long pixel = XGetPixel(picture, column, row);
            uint32_t red = (pixel & picture->red_mask) >> __builtin_ctzl(picture->red_mask);
            uint32_t green = (pixel & picture->green_mask) >> __builtin_ctzl(picture->green_mask);
            uint32_t blue = (pixel & picture->blue_mask) >> __builtin_ctzl(picture->blue_mask);
            out[column] = 0xFF000000u | red << 16 | green << 8 | blue;
        }
    }
    cairo_surface_mark_dirty(image.get());
    XDestroyImage(picture);
    return image;
}

SurfacePtr grabScreen(Display* display) {
    const int screen = DefaultScreen(display);
    return grabScreen(display, 0, 0, DisplayWidth(display, screen), DisplayHeight(display, screen));
}

uint32_t pixelAt(cairo_surface_t* image, int x, int y) {
    cairo_surface_flush(image);
    const unsigned char* data = cairo_image_surface_get_data(image);
    const int stride = cairo_image_surface_get_stride(image);
    uint32_t pixel = reinterpret_cast<const uint32_t*>(data + static_cast<size_t>(y) * stride)[x];
    if (cairo_image_surface_get_format(image) == CAIRO_FORMAT_RGB24) pixel |= 0xFF000000u;
    return pixel;
}

bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        if (condition()) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

bool xdotool(const std::vector<std::string>& args) {
    std::vector<std::string> argv{"/usr/bin/xdotool"};
    argv.insert(argv.end(), args.begin(), args.end());
    ChildOptions options;
    options.nullStdin = true;
    ChildProcess tool(argv, options);
    auto status = tool.waitExit();
    return status && status->exited && status->code == 0;
}

}  // namespace pelko::testing
