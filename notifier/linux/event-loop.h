// The resident's main loop on Linux: tasks posted from any thread, tasks due at a time on the
// injectable clock, and one descriptor (the window system's connection) whose events are read
// at every turn. Everything runs on the thread that drives the loop.
#pragma once

#include <functional>
#include <map>
#include <mutex>
#include <optional>

#include "clock.h"
#include "fd.h"

namespace pelko::notifier {

class EventLoop {
  public:
    /// A loop in real time on `clock`, driven by `run`.
    explicit EventLoop(Clock& clock);
    /// A loop in virtual time: nothing runs until `advance` or `runPending`.
    explicit EventLoop(VirtualClock& clock);
    EventLoop(const EventLoop&) = delete;
    EventLoop& operator=(const EventLoop&) = delete;

    /// Runs `task` on the loop's thread after what is already due. Callable from any thread.
    void post(std::function<void()> task);
    /// Runs `task` on the loop's thread once `delay` has passed on the clock.
    void postAfter(Duration delay, std::function<void()> task);
    /// `fd` becoming readable wakes the loop; `work` runs at every turn, before the due tasks
    /// and again before the loop waits, so it must not block.
    void watch(int fd, std::function<void()> work);

    /// Runs `work` and every task due now, in time order, then `work` again.
    void runPending();
    /// Virtual time only: moves time forward by `d`, running everything that falls due on the
    /// way at its own time.
    void advance(Duration d);
    /// Real time: turns until `quit`; returns its status.
    int run();
    /// Ends the loop: nothing more runs, and `run` returns `status`. The first status counts.
    void quit(int status);
    std::optional<int> exitStatus() const;
    Instant now() const { return clock_.now(); }

  private:
    std::optional<std::function<void()>> takeDue(Instant until);
    std::optional<Instant> nextDue() const;
    void wake();

    Clock& clock_;
    VirtualClock* virtualClock_ = nullptr;
    FileDescriptor wakeFd_;  ///< an eventfd that posts from other threads write to
    int watchedFd_ = -1;
    std::function<void()> work_;

    mutable std::mutex mutex_;  ///< guards the queue and the exit status
    std::multimap<Instant, std::function<void()>> queue_;
    std::optional<int> exitStatus_;
};

}  // namespace pelko::notifier
