// The one clock through which every fixed pause and time limit of the programs goes.
//
// The programs run on `RealClock`. Unit tests hand the logic a `VirtualClock`, whose pauses
// take no real time and are recorded, so a test can assert "slept 0.25 s, 24 times" without
// waiting six seconds.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace pelko {

using Duration = std::chrono::nanoseconds;
using Instant = std::chrono::steady_clock::time_point;

/// Seconds as a clock duration: `seconds(0.25)`.
constexpr Duration seconds(double value) {
    return std::chrono::duration_cast<Duration>(std::chrono::duration<double>(value));
}
/// A clock duration in seconds, for messages and comparisons in tests.
constexpr double inSeconds(Duration d) {
    return std::chrono::duration<double>(d).count();
}

/// A one-shot flag that one thread raises and another waits for (a semaphore signalled once).
/// Shared by reference count so that a late `raise` after the waiter gave up writes harmlessly.
class Signal {
  public:
    void raise();
    bool isRaised() const;

  private:
    friend class RealClock;
    friend class VirtualClock;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    bool raised_ = false;
};

class Clock {
  public:
    virtual ~Clock() = default;
    virtual Instant now() const = 0;
    /// Pauses the calling thread.
    virtual void sleepFor(Duration d) = 0;
    /// Waits until `signal` is raised or `limit` has passed. Returns whether it was raised.
    virtual bool wait(Signal& signal, Duration limit) = 0;
    /// Runs `task` once, `delay` from now. On the real clock it runs on the clock's timer
    /// thread; on a virtual clock it runs inside the sleep or wait that passes its time.
    virtual void schedule(Duration delay, std::function<void()> task) = 0;
};

/// Wall time: steady_clock, real sleeps, one timer thread started on first `schedule`.
class RealClock final : public Clock {
  public:
    RealClock() = default;
    ~RealClock() override;
    Instant now() const override { return std::chrono::steady_clock::now(); }
    void sleepFor(Duration d) override { std::this_thread::sleep_for(d); }
    bool wait(Signal& signal, Duration limit) override;
    void schedule(Duration delay, std::function<void()> task) override;

  private:
    void runTimers();
    std::mutex mutex_;
    std::condition_variable changed_;
    std::multimap<Instant, std::function<void()>> timers_;
    bool stopping_ = false;
    std::thread timerThread_;
};

/// Time that moves only when the code under test sleeps or waits. Every sleep is recorded.
/// Scheduled tasks run, in time order, on the thread whose sleep or wait reaches their time.
class VirtualClock final : public Clock {
  public:
    Instant now() const override;
    void sleepFor(Duration d) override;
    bool wait(Signal& signal, Duration limit) override;
    void schedule(Duration delay, std::function<void()> task) override;

    /// Moves time forward as a sleep would, without recording a pause.
    void advance(Duration d);
    /// The pauses taken through `sleepFor`, in order.
    std::vector<Duration> pauses() const;
    /// Time passed since the clock was made.
    Duration elapsed() const;

  private:
    void advanceTo(Instant target, Signal* stopWhenRaised);
    mutable std::mutex mutex_;
    Instant now_{};
    std::vector<Duration> pauses_;
    std::multimap<Instant, std::function<void()>> timers_;
};

}  // namespace pelko
