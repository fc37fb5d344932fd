// A timer source on the main loop: fires first after a delay, then at a fixed interval, with
// its time taken from the injectable clock.
#pragma once

#include <functional>
#include <memory>

#include "clock.h"
#include "main-loop.h"

namespace pelko::mic {

class RepeatingTimer {
  public:
    /// Runs `handler` on `mainLoop` `first` from now and then every `interval`. Firings are
    /// counted from the start, so a late handler does not push later ones back; firings missed
    /// while the loop was busy collapse into one. `mainLoop` and `clock` must outlive the timer.
    RepeatingTimer(MainLoop& mainLoop, Clock& clock, Duration first, Duration interval,
                   std::function<void()> handler);
    /// Cancels: the handler is not called again once this returns (on the main loop's thread).
    ~RepeatingTimer();
    RepeatingTimer(const RepeatingTimer&) = delete;
    RepeatingTimer& operator=(const RepeatingTimer&) = delete;

  private:
    struct State;
    static void arm(const std::shared_ptr<State>& state);
    std::shared_ptr<State> state_;
};

}  // namespace pelko::mic
