// The screen-capture permission seam.
#pragma once

namespace pelko::computer {

class ScreenCapture {
  public:
    virtual ~ScreenCapture() = default;
    /// Whether this process may capture the screen. Never prompts.
    virtual bool preflight() = 0;
    /// Shows the system prompt for screen capture; returns whether capture is now allowed.
    virtual bool request() = 0;
};

}  // namespace pelko::computer
