#include "clock.h"

namespace pelko {

void Signal::raise() {
    {
        std::lock_guard lock(mutex_);
        raised_ = true;
    }
    changed_.notify_all();
}

bool Signal::isRaised() const {
    std::lock_guard lock(mutex_);
    return raised_;
}

RealClock::~RealClock() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    if (timerThread_.joinable()) timerThread_.join();
}

bool RealClock::wait(Signal& signal, Duration limit) {
    std::unique_lock lock(signal.mutex_);
    return signal.changed_.wait_for(lock, limit, [&] { return signal.raised_; });
}

void RealClock::schedule(Duration delay, std::function<void()> task) {
    std::lock_guard lock(mutex_);
    timers_.emplace(now() + delay, std::move(task));
    if (!timerThread_.joinable()) timerThread_ = std::thread([this] { runTimers(); });
    changed_.notify_all();
}

void RealClock::runTimers() {
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        if (timers_.empty()) {
            changed_.wait(lock);
            continue;
        }
        auto first = timers_.begin();
        if (first->first > now()) {
            changed_.wait_until(lock, first->first);
            continue;
        }
        auto task = std::move(first->second);
        timers_.erase(first);
        lock.unlock();
        task();
        lock.lock();
    }
}

Instant VirtualClock::now() const {
    std::lock_guard lock(mutex_);
    return now_;
}

void VirtualClock::sleepFor(Duration d) {
    Instant target;
    {
        std::lock_guard lock(mutex_);
        pauses_.push_back(d);
        target = now_ + d;
    }
    advanceTo(target, nullptr);
}

void VirtualClock::advance(Duration d) {
    advanceTo(now() + d, nullptr);
}

bool VirtualClock::wait(Signal& signal, Duration limit) {
    advanceTo(now() + limit, &signal);
    return signal.isRaised();
}

void VirtualClock::schedule(Duration delay, std::function<void()> task) {
    std::lock_guard lock(mutex_);
    timers_.emplace(now_ + delay, std::move(task));
}

std::vector<Duration> VirtualClock::pauses() const {
    std::lock_guard lock(mutex_);
    return pauses_;
}

Duration VirtualClock::elapsed() const {
    std::lock_guard lock(mutex_);
    return now_ - Instant{};
}

void VirtualClock::advanceTo(Instant target, Signal* stopWhenRaised) {
    for (;;) {
        if (stopWhenRaised && stopWhenRaised->isRaised()) return;
        std::function<void()> task;
        {
            std::lock_guard lock(mutex_);
            auto first = timers_.begin();
            if (first == timers_.end() || first->first > target) {
                if (now_ < target) now_ = target;
                return;
            }
            if (now_ < first->first) now_ = first->first;
            task = std::move(first->second);
            timers_.erase(first);
        }
        task();
    }
}

}  // namespace pelko
