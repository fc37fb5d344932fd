// The screen-capture seam on X11: every client may read the screen, so capture is allowed when
// the display's pixels can be read. The windows that can be pictured are the window manager's
// client windows, front first (EWMH stacking order), with their process, frame and title. A
// window's picture comes from its own off-screen copy where the Composite extension keeps one
// (so windows in front of it do not show), else from the screen where it lies. The copies are
// made on the first picture; each window is then asked once to draw itself into its copy (the
// Damage extension says when it has). Both answers come on a queue of this part's own.
#pragma once

#include <memory>
#include <set>

#include "clock.h"
#include "platform/screen-capture.h"
#include "serial-queue.h"
#include "x11-desktop.h"

namespace pelko::computer::linux_desktop {

class LinuxScreenCapture final : public ScreenCapture {
  public:
    /// `display` is this part's own connection, used on its queue only.
    LinuxScreenCapture(DisplayPtr display, X11Desktop& x11, Clock& clock);
    ~LinuxScreenCapture() override;

    bool preflight() override { return x11_.canReadScreen(); }
    /// Nothing to ask: X lets every client read the screen, or none.
    bool request() override { return x11_.canReadScreen(); }
    void shareableContent(const ContentFilter& filter, ContentCompletion completion) override;
    /// Delivers the window's own pixels, unscaled.
    void captureWindow(const ShareableWindow& window, int width, int height,
                       ImageCompletion completion) override;

  private:
    struct Captured;
    Captured capture(uint32_t window);
    /// Asks the app to draw all of `window` (inside top-level `top`) and waits until it has.
    void repaint(unsigned long window, unsigned long top);
    DisplayPtr display_;
    X11Desktop& x11_;
    Clock& clock_;
    bool hasComposite_ = false;
    bool redirected_ = false;
    /// Top-level windows drawn into their off-screen copies since they were made.
    std::set<unsigned long> repainted_;
    /// Declared last: its thread ends (running what is queued) before the display closes.
    SerialQueue queue_{"pelko.computer.capture"};
};

}  // namespace pelko::computer::linux_desktop
