// The windowing seam on an X11 desktop: each panel is an override-redirect window that never
// takes the keyboard focus, drawn with Cairo through its content's `draw`; the pointer's
// events come from the X server; animations run on a frame timer in the resident's main loop,
// which also serves the X connection, the timers and the tasks other threads post.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <unordered_set>
#include <vector>

#include "linux/event-loop.h"
#include "linux/x11-screens.h"
#include "platform/windowing.h"

namespace pelko::notifier {

/// How the X11 backend behaves; the program takes these from its environment.
struct X11Options {
    /// The program that opens URLs (see url-opener.h).
    std::string opener = "xdg-open";
    /// Pixels a point.
    double scale = 1;
    /// Panels use a visual with an alpha channel when a compositing manager runs; false keeps
    /// them shaped (as on a desktop without one).
    bool allowTransparency = true;
    /// Receives the log lines ("<seconds> <what>"); none when null.
    std::ostream* log = nullptr;
};

class X11Panel;
struct X11Connection;

/// The window system of an X11 desktop, for the resident. Used on the main thread, except
/// `post`.
class X11Windowing final : public Windowing {
  public:
    /// Connects to the X display `displayName` (null: $DISPLAY) and runs in real time on
    /// `clock`; nothing when no X server answers.
    static std::unique_ptr<X11Windowing> connect(Clock& clock, const char* displayName,
                                                 X11Options options);
    /// The same in virtual time: nothing happens until `advance` or `runPending`.
    static std::unique_ptr<X11Windowing> connect(VirtualClock& clock, const char* displayName,
                                                 X11Options options);
    ~X11Windowing() override;
    X11Windowing(const X11Windowing&) = delete;
    X11Windowing& operator=(const X11Windowing&) = delete;

    // Windowing
    std::vector<Screen> screens() override;
    std::optional<Screen> mainScreen() override;
    Point pointerLocation() override;
    std::unique_ptr<Panel> createPanel(const CardPanelSettings& settings,
                                       PanelContent& content) override;
    void animate(Duration duration, std::vector<PanelAnimation> changes,
                 std::function<void()> completion) override;
    std::unique_ptr<Timer> scheduleTimer(Duration delay, std::function<void()> fire) override;
    void post(std::function<void()> task) override;
    /// Starts the opener with the URL and does not wait for it.
    void openURL(const std::string& url) override;
    void exitApplication(int status) override;

    /// Real time: serves the X connection, timers and posted tasks until `exitApplication`;
    /// returns its status.
    int run();
    /// Handles the X events that have come and runs the tasks due now.
    void runPending();
    /// Virtual time only: moves time forward by `d`, handling everything due on the way.
    void advance(Duration d);
    std::optional<int> exitStatus() const;

    /// Adds a line to the log, stamped with the time since the backend was made.
    void record(const std::string& what);
    /// The name of the display connected to (":0").
    std::string displayName() const;
    /// The X window (an XID) that shows `panel`; 0 once it is closed.
    unsigned long windowOf(const Panel& panel) const;
    /// Sends every request and waits until the X server has handled them.
    void sync();
    const ScreenSpace& space() const { return space_; }

  private:
    friend class X11Panel;
    /// One panel's part of a running animation group.
    struct Track {
        X11Panel* panel = nullptr;
        size_t animation = 0;
        Instant start;
        Duration duration{};
        Rect fromFrame;
        std::optional<Rect> toFrame;
        double fromAlpha = 1;
        std::optional<double> toAlpha;
    };

    X11Windowing(Clock& clock, VirtualClock* virtualClock,
                 std::unique_ptr<X11Connection> connection, X11Options options);
    static std::unique_ptr<X11Windowing> open(Clock& clock, VirtualClock* virtualClock,
                                              const char* displayName, X11Options options);
    void pump();
    void dispatch(void* event);
    X11Panel* panelFor(unsigned long window) const;
    void hover(X11Panel* panel);
    void tick();
    void scheduleTick();
    void finishAnimation(size_t animation);
    void stopTracks(X11Panel* panel, bool frame, bool alpha);
    void needsPaint(X11Panel* panel);
    void forget(X11Panel* panel);
    std::vector<Monitor> monitors();
    std::optional<PixelRect> workArea();
    bool compositorRunning();

    Clock& clock_;
    std::unique_ptr<X11Connection> connection_;
    X11Options options_;
    ScreenSpace space_;
    EventLoop loop_;
    Instant start_;
    std::vector<X11Panel*> panels_;
    std::unordered_set<X11Panel*> unpainted_;
    X11Panel* hovered_ = nullptr;
    X11Panel* pressed_ = nullptr;
    std::vector<Track> tracks_;
    bool tickPending_ = false;
    size_t animationCount_ = 0;
    int nextPanelNumber_ = 1;
};

}  // namespace pelko::notifier
