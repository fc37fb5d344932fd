#include "sim/sim-windowing.h"

#include <algorithm>
#include <cstdio>
#include <stdexcept>

namespace pelko::notifier {
namespace {

/// The screen of a desktop nobody configured: 1440 × 900 with a 25-point menu bar.
const Screen defaultScreen{{0, 0, 1440, 900}, {0, 0, 1440, 875}};

std::string text(double value) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%g", value);
    return buffer;
}

class SimTimer final : public Timer {
  public:
    explicit SimTimer(std::shared_ptr<bool> cancelled) : cancelled_(std::move(cancelled)) {}
    void invalidate() override { *cancelled_ = true; }

  private:
    std::shared_ptr<bool> cancelled_;
};

}  // namespace

std::string describe(Rect rect) {
    return "(" + text(rect.x) + ", " + text(rect.y) + ", " + text(rect.width) + ", " +
           text(rect.height) + ")";
}

SimPanel::SimPanel(SimWindowing& desktop, int number, const CardPanelSettings& settings,
                   PanelContent& content)
    : desktop_(desktop),
      number_(number),
      settings_(settings),
      content_(content),
      frame_(settings.contentRect) {}

SimPanel::~SimPanel() {
    desktop_.forget(this);
}

void SimPanel::setFrame(Rect frame, bool display) {
    frame_ = frame;
    desktop_.record("panel " + std::to_string(number_) + " frame " + describe(frame) +
                    (display ? " display" : ""));
}

void SimPanel::setAlpha(double alpha) {
    alpha_ = alpha;
    desktop_.record("panel " + std::to_string(number_) + " alpha " + text(alpha));
}

void SimPanel::orderFrontRegardless() {
    visible_ = true;
    frontOrder_ = desktop_.nextFrontOrder_++;
    desktop_.record("panel " + std::to_string(number_) + " front");
}

void SimPanel::orderOut() {
    visible_ = false;
    if (desktop_.hovered_ == this) desktop_.hovered_ = nullptr;
    desktop_.record("panel " + std::to_string(number_) + " out");
}

void SimPanel::close() {
    visible_ = false;
    closed_ = true;
    if (desktop_.hovered_ == this) desktop_.hovered_ = nullptr;
    desktop_.record("panel " + std::to_string(number_) + " closed");
}

SimWindowing::SimWindowing(VirtualClock& clock) : SimWindowing(static_cast<Clock&>(clock)) {
    virtualClock_ = &clock;
}

SimWindowing::SimWindowing(Clock& clock)
    : clock_(clock), start_(clock.now()), screens_{defaultScreen} {}

SimWindowing::~SimWindowing() = default;

std::vector<Screen> SimWindowing::screens() {
    return screens_;
}

std::optional<Screen> SimWindowing::mainScreen() {
    if (screens_.empty()) return std::nullopt;
    return screens_.front();
}

Point SimWindowing::pointerLocation() {
    return pointer_;
}

std::unique_ptr<Panel> SimWindowing::createPanel(const CardPanelSettings& settings,
                                                 PanelContent& content) {
    auto panel = std::make_unique<SimPanel>(*this, nextPanelNumber_++, settings, content);
    panels_.push_back(panel.get());
    record("panel " + std::to_string(panel->number()) + " created " +
           describe(settings.contentRect) + " style " + std::to_string(settings.styleMask) +
           " level " + std::to_string(settings.level) + " behavior " +
           std::to_string(settings.collectionBehavior));
    return panel;
}

void SimWindowing::animate(Duration duration, std::vector<PanelAnimation> changes,
                           std::function<void()> completion) {
    SimAnimation animation{elapsed(), duration, {}};
    std::string what = "animate " + text(inSeconds(duration)) + " s:";
    for (const PanelAnimation& change : changes) {
        auto* panel = static_cast<SimPanel*>(change.panel);
        what += " panel " + std::to_string(panel->number());
        // The model takes the target values at once; the completion comes when the time is up.
        if (change.frame) {
            panel->frame_ = *change.frame;
            what += " frame " + describe(*change.frame);
        }
        if (change.alpha) {
            panel->alpha_ = *change.alpha;
            what += " alpha " + text(*change.alpha);
        }
        animation.changes.push_back({panel->number(), change.frame, change.alpha});
    }
    if (keepRecords_) animations_.push_back(animation);
    record(what);
    size_t index = ++animationCount_;
    enqueue(duration, [this, index, completion = std::move(completion)] {
        record("animation " + std::to_string(index) + " done");
        if (completion) completion();
    });
}

std::unique_ptr<Timer> SimWindowing::scheduleTimer(Duration delay, std::function<void()> fire) {
    auto cancelled = std::make_shared<bool>(false);
    record("timer armed " + text(inSeconds(delay)) + " s");
    enqueue(delay, [this, cancelled, fire = std::move(fire)] {
        if (*cancelled) return;
        record("timer fired");
        fire();
    });
    return std::make_unique<SimTimer>(cancelled);
}

void SimWindowing::post(std::function<void()> task) {
    enqueue(Duration::zero(), std::move(task));
}

void SimWindowing::openURL(const std::string& url) {
    if (keepRecords_) openedURLs_.push_back(url);
    record("open " + url);
}

void SimWindowing::exitApplication(int status) {
    record("exit " + std::to_string(status));
    {
        std::lock_guard lock(mutex_);
        if (!exitStatus_) exitStatus_ = status;
    }
    queueChanged_.notify_all();
}

std::optional<int> SimWindowing::exitStatus() const {
    std::lock_guard lock(mutex_);
    return exitStatus_;
}

void SimWindowing::enqueue(Duration delay, std::function<void()> task) {
    {
        std::lock_guard lock(mutex_);
        queue_.emplace(clock_.now() + delay, std::move(task));
    }
    queueChanged_.notify_all();
}

std::optional<std::function<void()>> SimWindowing::takeDue(Instant until) {
    std::lock_guard lock(mutex_);
    if (exitStatus_) return std::nullopt;  // an ended application runs nothing more
    auto first = queue_.begin();
    if (first == queue_.end() || first->first > until) return std::nullopt;
    auto task = std::move(first->second);
    queue_.erase(first);
    return task;
}

void SimWindowing::runPending() {
    while (auto task = takeDue(clock_.now())) (*task)();
}

void SimWindowing::advance(Duration d) {
    if (!virtualClock_) throw std::logic_error("advance needs a virtual clock");
    const Instant target = clock_.now() + d;
    for (;;) {
        runPending();
        Instant next;
        {
            std::lock_guard lock(mutex_);
            if (exitStatus_ || queue_.empty() || queue_.begin()->first > target) break;
            next = queue_.begin()->first;
        }
        if (next > clock_.now()) virtualClock_->advance(next - clock_.now());
    }
    if (target > clock_.now()) virtualClock_->advance(target - clock_.now());
}

int SimWindowing::run() {
    for (;;) {
        runPending();
        std::unique_lock lock(mutex_);
        if (exitStatus_) return *exitStatus_;
        if (queue_.empty()) {
            queueChanged_.wait(lock);
        } else {
            // The queue's times come from the same steady clock as the real clock's.
            queueChanged_.wait_until(lock, queue_.begin()->first);
        }
    }
}

void SimWindowing::setScreens(std::vector<Screen> screens) {
    screens_ = std::move(screens);
    record("screens " + std::to_string(screens_.size()));
}

SimPanel* SimWindowing::panelAt(Point at) const {
    SimPanel* found = nullptr;
    for (SimPanel* panel : panels_) {
        if (!panel->visible_ || panel->closed_ || !panel->frame_.contains(at)) continue;
        if (panel->content_.hitTest(toPanel(*panel, at)) == PanelHit::nothing) continue;
        if (!found || panel->frontOrder_ > found->frontOrder_) found = panel;
    }
    return found;
}

void SimWindowing::hover(SimPanel* panel) {
    if (panel == hovered_) return;
    if (hovered_) hovered_->content_.pointerExited();
    hovered_ = panel;
    if (hovered_) hovered_->content_.pointerEntered();
}

void SimWindowing::movePointer(Point at) {
    pointer_ = at;
    record("pointer " + text(at.x) + ", " + text(at.y));
    hover(panelAt(at));
    if (hovered_) hovered_->content_.pointerMoved(eventAt(*hovered_, at));
}

Point SimWindowing::toPanel(const SimPanel& panel, Point at) const {
    // Panels count y downward from their top edge.
    return {at.x - panel.frame_.x, panel.frame_.maxY() - at.y};
}

PointerEvent SimWindowing::eventAt(const SimPanel& panel, Point at) const {
    return {toPanel(panel, at), at};
}

void SimWindowing::click(Point at) {
    movePointer(at);
    SimPanel* panel = panelAt(at);
    if (!panel) {
        record("click " + text(at.x) + ", " + text(at.y) + " on nothing");
        return;
    }
    record("click " + text(at.x) + ", " + text(at.y) + " on panel " +
           std::to_string(panel->number()));
    PanelContent& content = panel->content_;
    content.pointerDown(eventAt(*panel, at));
    content.pointerUp(eventAt(*panel, at));
}

void SimWindowing::drag(Point from, const std::vector<double>& xs) {
    movePointer(from);
    SimPanel* panel = panelAt(from);
    if (!panel) {
        record("drag from " + text(from.x) + ", " + text(from.y) + " on nothing");
        return;
    }
    record("drag from " + text(from.x) + ", " + text(from.y) + " on panel " +
           std::to_string(panel->number()));
    PanelContent& content = panel->content_;
    content.pointerDown(eventAt(*panel, from));
    for (double x : xs) {
        // The pressed panel keeps the pointer's events while the pointer moves.
        pointer_ = {x, from.y};
        content.pointerDragged(eventAt(*panel, pointer_));
    }
    record("release at " + text(pointer_.x) + ", " + text(pointer_.y));
    content.pointerUp(eventAt(*panel, pointer_));
}

void SimWindowing::scroll(Point at, const ScrollEvent& event) {
    movePointer(at);
    SimPanel* panel = panelAt(at);
    record("scroll phase " + std::to_string(event.phase) + " momentum " +
           std::to_string(event.momentumPhase) + " dx " + text(event.deltaX) + " dy " +
           text(event.deltaY) +
           (panel ? " on panel " + std::to_string(panel->number()) : std::string(" on nothing")));
    if (panel) panel->content_.scrolled(event);
}

Duration SimWindowing::elapsed() const {
    return clock_.now() - start_;
}

void SimWindowing::record(const std::string& what) {
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%.3f ", inSeconds(elapsed()));
    std::string line = stamp + what;
    if (mirror_) *mirror_ << line << std::endl;
    if (keepRecords_) log_.push_back(std::move(line));
}

void SimWindowing::forget(SimPanel* panel) {
    std::erase(panels_, panel);
    if (hovered_ == panel) hovered_ = nullptr;
}

}  // namespace pelko::notifier
