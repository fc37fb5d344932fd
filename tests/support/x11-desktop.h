// Test helpers for programs on a real X11 desktop (scripts/desktop-session): whether one is
// there, the screen's picture, and a pointer played from another X client.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "pango-cairo.h"

typedef struct _XDisplay Display;

namespace pelko::testing {

/// Why desktop tests cannot run here, or empty when they can: they run only inside
/// scripts/desktop-session (never on a person's own display), and skip where its X server
/// could not start.
std::string desktopUnavailableReason();

/// A connection to the session's display ($DISPLAY), closed when its owner ends.
class DisplayConnection {
  public:
    DisplayConnection();
    ~DisplayConnection();
    DisplayConnection(const DisplayConnection&) = delete;
    DisplayConnection& operator=(const DisplayConnection&) = delete;
    /// Null when no X server answered.
    Display* get() const { return display_; }

  private:
    Display* display_;
};

/// The part of the screen (the root window's picture, what a person sees) from (x, y), `width`
/// by `height` pixels, as a Cairo RGB24 image.
SurfacePtr grabScreen(Display* display, int x, int y, int width, int height);
/// The whole screen.
SurfacePtr grabScreen(Display* display);
/// The pixel at (x, y) of an image: 0xAARRGGBB, premultiplied (0xFF alpha for RGB24).
uint32_t pixelAt(cairo_surface_t* image, int x, int y);

/// Polls `condition` every 10 ms until it holds or `limit` has passed; whether it held.
bool waitUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds limit = std::chrono::milliseconds(10000));

/// Runs Debian's xdotool (a pointer and keyboard from another X client) with `args` on the
/// session's display and waits for it; whether it exited with status 0.
bool xdotool(const std::vector<std::string>& args);

}  // namespace pelko::testing
