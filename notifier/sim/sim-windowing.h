// The simulated windowing backend: a model of screens, the pointer and card panels that
// records every change in a log with its time, runs timers and animation completions on its
// own main queue, and lets tests (or a person) inject the pointer, screens, clicks, drags and
// trackpad swipes. Time is a `VirtualClock` in tests and the real clock in the program, which
// uses this backend until a real window backend exists.
#pragma once

#include <condition_variable>
#include <map>
#include <mutex>
#include <optional>
#include <ostream>
#include <vector>

#include "platform/windowing.h"

namespace pelko::notifier {

class SimWindowing;

/// A panel of the simulated desktop.
class SimPanel final : public Panel {
  public:
    SimPanel(SimWindowing& desktop, int number, const CardPanelSettings& settings,
             PanelContent& content);
    ~SimPanel() override;

    Rect frame() const override { return frame_; }
    void setFrame(Rect frame, bool display) override;
    double alpha() const override { return alpha_; }
    void setAlpha(double alpha) override;
    bool isVisible() const override { return visible_; }
    void orderFrontRegardless() override;
    void orderOut() override;
    void close() override;

    /// The panel's number in the log: 1 for the first panel made, and so on.
    int number() const { return number_; }
    const CardPanelSettings& settings() const { return settings_; }
    PanelContent& content() const { return content_; }
    bool isClosed() const { return closed_; }

  private:
    friend class SimWindowing;
    SimWindowing& desktop_;
    int number_;
    CardPanelSettings settings_;
    PanelContent& content_;
    Rect frame_;
    double alpha_ = 1;
    bool visible_ = false;
    bool closed_ = false;
    long frontOrder_ = 0;  ///< higher is nearer the front
};

/// One recorded animation group.
struct SimAnimation {
    Duration startedAt{};  ///< time since the backend was made
    Duration duration{};
    struct Change {
        int panel = 0;
        std::optional<Rect> frame;
        std::optional<double> alpha;
    };
    std::vector<Change> changes;
};

/// The recording model of the window system (see docs/notifier-sim.md).
class SimWindowing final : public Windowing {
  public:
    /// A desktop in virtual time: nothing happens until `advance` or `runPending`.
    explicit SimWindowing(VirtualClock& clock);
    /// A desktop in real time, driven by `run`.
    explicit SimWindowing(Clock& clock);
    ~SimWindowing() override;

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
    void openURL(const std::string& url) override;
    void exitApplication(int status) override;

    // Driving the model.
    /// Runs queued tasks that are due now (virtual or real time).
    void runPending();
    /// Virtual time only: moves time forward by `d`, running timers, completions and posted
    /// tasks in time order.
    void advance(Duration d);
    /// Real time: runs the main queue until `exitApplication`; returns its status.
    int run();

    // Injected user and system state.
    /// Replaces the screens; the first one is the main screen. An empty list means no screen.
    void setScreens(std::vector<Screen> screens);
    /// Moves the pointer, telling the panels it leaves and enters, and the panel under it that
    /// it moved.
    void movePointer(Point at);
    /// A click at `at`: a press and a release there.
    void click(Point at);
    /// A press at `from`, the pointer dragged through the x positions `xs` (same y), a release.
    void drag(Point from, const std::vector<double>& xs);
    /// One scroll-wheel event over the panel at `at`.
    void scroll(Point at, const ScrollEvent& event);

    // What happened.
    /// The log so far, one line per change: "<seconds> <what>".
    const std::vector<std::string>& log() const { return log_; }
    /// Adds a line to the log, stamped with the current time.
    void record(const std::string& what);
    /// Also writes every log line to `out` as it happens (nothing when null).
    void mirrorLog(std::ostream* out) { mirror_ = out; }
    /// Whether the log, the animations and the opened URLs are kept in memory for `log`,
    /// `animations` and `openedURLs` (the default). The program turns this off: its resident may
    /// live for days, and nothing there reads them; the mirror still gets every line.
    void keepRecords(bool keep) { keepRecords_ = keep; }
    const std::vector<SimAnimation>& animations() const { return animations_; }
    const std::vector<std::string>& openedURLs() const { return openedURLs_; }
    std::optional<int> exitStatus() const;
    /// Every panel that exists, in the order made.
    std::vector<SimPanel*> panels() const { return panels_; }
    /// The visible panel nearest the front whose content lies at `at`, or null.
    SimPanel* panelAt(Point at) const;
    /// Time since the backend was made.
    Duration elapsed() const;

  private:
    friend class SimPanel;
    void enqueue(Duration delay, std::function<void()> task);
    std::optional<std::function<void()>> takeDue(Instant until);
    void forget(SimPanel* panel);
    void hover(SimPanel* panel);
    Point toPanel(const SimPanel& panel, Point at) const;
    PointerEvent eventAt(const SimPanel& panel, Point at) const;

    Clock& clock_;
    VirtualClock* virtualClock_ = nullptr;
    Instant start_;
    std::vector<Screen> screens_;
    Point pointer_{720, 450};
    std::vector<SimPanel*> panels_;
    SimPanel* hovered_ = nullptr;
    int nextPanelNumber_ = 1;
    long nextFrontOrder_ = 1;
    std::vector<std::string> log_;
    std::ostream* mirror_ = nullptr;
    std::vector<SimAnimation> animations_;
    std::vector<std::string> openedURLs_;
    bool keepRecords_ = true;
    size_t animationCount_ = 0;

    mutable std::mutex
        mutex_;  ///< guards the queue and the exit status (posts come from any thread)
    std::condition_variable queueChanged_;
    std::multimap<Instant, std::function<void()>> queue_;
    std::optional<int> exitStatus_;
};

/// Text for a rectangle in the log: "(x, y, width, height)".
std::string describe(Rect rect);

}  // namespace pelko::notifier
