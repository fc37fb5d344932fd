// The windowing seam of the resident: screens, the pointer, card panels, animation groups,
// timers, the main queue, opening URLs and ending the application. Screen coordinates are in
// points with the origin at the bottom-left of the main screen; y grows upward. What a panel
// shows is a `PanelContent`.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "clock.h"
#include "platform/geometry.h"
#include "platform/panel-content.h"

namespace pelko::notifier {

/// One display.
struct Screen {
    Rect frame;
    /// The frame without the menu bar and the Dock (or the desktop's panels).
    Rect visibleFrame;
};

/// How a card panel (`CardPanel`) is made: a borderless, non-activating floating panel on every
/// desktop that never becomes the key or main window.
struct CardPanelSettings {
    Rect contentRect{0, 0, 400, 80};
    unsigned styleMask = 128;  ///< non-activating panel, nothing else
    bool bufferedBacking = true;
    bool deferred = false;
    bool floating = true;
    int level = 25;                     ///< the status-window level
    unsigned collectionBehavior = 337;  ///< all spaces, stationary, ignores cycle, full-screen aux
    bool clearBackground = true;
    bool opaque = false;
    bool hasShadow = true;
    bool hidesOnDeactivate = false;
    bool becomesKeyOnlyIfNeeded = true;
    bool releasedWhenClosed = false;
    bool canBecomeKey = false;  ///< clicking a card never takes the keyboard focus
    bool canBecomeMain = false;
};

/// A floating window that shows one panel content. Used on the main thread only.
class Panel {
  public:
    virtual ~Panel() = default;
    virtual Rect frame() const = 0;
    /// Moves and sizes the panel at once; `display` redraws it immediately.
    virtual void setFrame(Rect frame, bool display) = 0;
    virtual double alpha() const = 0;
    virtual void setAlpha(double alpha) = 0;
    /// Whether the panel is on screen (ordered in), whatever its alpha.
    virtual bool isVisible() const = 0;
    /// Brings the panel in front of the others without activating the application.
    virtual void orderFrontRegardless() = 0;
    virtual void orderOut() = 0;
    virtual void close() = 0;
};

/// One panel's part in an animation group: the values it moves to.
struct PanelAnimation {
    Panel* panel = nullptr;
    std::optional<Rect> frame;
    std::optional<double> alpha;
};

/// A pending one-shot timer; invalidating it keeps it from firing.
class Timer {
  public:
    virtual ~Timer() = default;
    virtual void invalidate() = 0;
};

/// The window system as the resident sees it. Called on the main thread unless noted.
class Windowing {
  public:
    virtual ~Windowing() = default;
    /// Every screen, the main screen first.
    virtual std::vector<Screen> screens() = 0;
    /// The screen with the keyboard focus; nothing when there is no screen.
    virtual std::optional<Screen> mainScreen() = 0;
    virtual Point pointerLocation() = 0;
    /// A new, hidden panel showing `content`, which must outlive the panel. The panel draws the
    /// content and hands it the pointer's events over the panel.
    virtual std::unique_ptr<Panel> createPanel(const CardPanelSettings& settings,
                                               PanelContent& content) = 0;
    /// Runs one animation group over `duration`; `completion` runs on the main thread once it
    /// has finished. The panels' frame and alpha read as the targets from the start.
    virtual void animate(Duration duration, std::vector<PanelAnimation> changes,
                         std::function<void()> completion) = 0;
    /// A one-shot timer on the main run loop.
    virtual std::unique_ptr<Timer> scheduleTimer(Duration delay, std::function<void()> fire) = 0;
    /// Runs `task` on the main thread later, after what is already queued. Callable from any
    /// thread.
    virtual void post(std::function<void()> task) = 0;
    /// Opens `url` with the system's default handler.
    virtual void openURL(const std::string& url) = 0;
    /// Ends the application's event loop; the process then exits with `status`.
    virtual void exitApplication(int status) = 0;
};

}  // namespace pelko::notifier
