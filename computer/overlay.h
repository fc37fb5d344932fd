// The overlay: the banner shown at the top of the screen while the agent works. Its visibility
// arms the Escape stop.
#pragma once

#include <string>

#include "json-line.h"

namespace pelko::computer {

struct Computer;

/// The one overlay of the process. Used on the main thread only.
class Overlay {
  public:
    /// Shows the banner with `text`, or updates the banner already shown.
    void show(const std::string& text);
    /// Hides the banner; it is kept for the next show.
    void hide();
    /// Whether the banner is meant to be visible.
    bool shown() const { return shown_; }

  private:
    bool shown_ = false;
};

/// The "banner" method: shows the banner (`show` true, with `text`) or hides it; {"ok": true}.
Json banner(Computer& computer, const Json& params);

}  // namespace pelko::computer
