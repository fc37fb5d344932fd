// The overlay: the banner shown at the top of the main screen while the agent works, the brief
// outline around what the agent is about to act on, and the Escape stop that the banner arms.
// Both are borderless panels that never take focus and never catch the mouse.
#pragma once

#include <optional>
#include <string>

#include "json-line.h"
#include "platform/platform.h"

namespace pelko::computer {

struct Computer;
struct KeyDown;

/// The banner's text when the host gives none.
inline const std::string defaultBannerText = "Pelko is using your computer \u00B7 Esc to stop";

/// The one overlay of the process. Every member runs on the main thread only.
class Overlay {
  public:
    /// Panels are made through `platform.panels`; the highlight's hide is timed by its clock.
    explicit Overlay(Platform& platform) : platform_(platform) {}

    /// Shows the banner with `text` centred at the top of the main screen, or updates and
    /// re-centres the banner already shown. Arms Escape even when nothing can be drawn.
    void show(const std::string& text);
    /// Hides the banner and disarms Escape; the panel is kept for the next show.
    void hide();
    /// Flashes an outline around `rect` (accessibility coordinates: origin top-left of the
    /// primary display, y downward) for 0.6 seconds.
    void highlight(const Rect& rect);
    /// Whether the banner is meant to be visible.
    bool shown() const { return shown_; }

  private:
    Platform& platform_;
    Panel banner_;
    /// Whether the banner's text label exists (it lives inside the banner's content).
    bool label_ = false;
    Panel flash_;
    bool shown_ = false;
};

/// Flashes the element's frame, but only when its app is the frontmost app: an outline over
/// an app in the background would sit on top of other windows. Hops to the main thread.
void highlight(Computer& computer, const Element& element);

/// The "banner" method (runs on `uiWork`): shows the banner (`show` true, with `text`) or
/// hides it; {"ok": true}.
JSON banner(Computer& computer, const JSON& params);

/// The Escape monitor: writes {"event": "stop"} for a key-down of Escape (53) while the
/// banner is shown, unless the event carries `ownEventMark`. Runs on the main thread.
void escapeMonitor(Computer& computer, const KeyDown& key);

/// Installs `escapeMonitor` as the global key-down monitor; a failure to install is ignored.
void installEscapeMonitor(Computer& computer);

}  // namespace pelko::computer
