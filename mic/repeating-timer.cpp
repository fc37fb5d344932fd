#include "repeating-timer.h"

#include <algorithm>
#include <atomic>

namespace pelko::mic {

struct RepeatingTimer::State {
    MainLoop& mainLoop;
    Clock& clock;
    Instant firstFiring;
    Duration interval;
    std::function<void()> handler;
    /// The index of the next firing, counted from `firstFiring`. Main loop only.
    long next = 0;
    /// Set by the timer's destruction, which may come from inside the handler.
    std::atomic<bool> cancelled = false;
};

RepeatingTimer::RepeatingTimer(MainLoop& mainLoop, Clock& clock, Duration first, Duration interval,
                               std::function<void()> handler)
    : state_(std::make_shared<State>(mainLoop, clock, clock.now() + first, interval,
                                     std::move(handler))) {
    arm(state_);
}

RepeatingTimer::~RepeatingTimer() {
    state_->cancelled = true;
}

void RepeatingTimer::arm(const std::shared_ptr<State>& state) {
    const Instant due = state->firstFiring + state->next * state->interval;
    const Duration delay = std::max(Duration::zero(), due - state->clock.now());
    // Only weak references wait on the clock and the loop, so a destroyed timer never fires.
    std::weak_ptr<State> weak = state;
    state->clock.schedule(delay, [weak] {
        auto alive = weak.lock();
        if (!alive) return;
        alive->mainLoop.post([weak] {
            auto firing = weak.lock();
            if (!firing || firing->cancelled) return;
            firing->handler();
            if (firing->cancelled) return;
            // The next firing is the first one still ahead of now.
            const Duration late = firing->clock.now() - firing->firstFiring;
            const long passed = static_cast<long>(late / firing->interval);
            firing->next = std::max(firing->next + 1, passed + 1);
            arm(firing);
        });
    });
}

}  // namespace pelko::mic
