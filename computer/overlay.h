// The overlay: the banner shown at the top of the main screen while the agent works and the brief
// outline around what the agent is about to act on. Both are borderless panels that never take
// focus and never catch the mouse. The methods that use it (the "banner" method, the Escape
// stop, the highlight before an act) live above the process-wide values that hold it.
#pragma once

#include <optional>
#include <string>

#include "platform/platform.h"

namespace pelko::computer {

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

}  // namespace pelko::computer
