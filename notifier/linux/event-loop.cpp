#include "linux/event-loop.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <stdexcept>

namespace pelko::notifier {

EventLoop::EventLoop(Clock& clock)
    : clock_(clock), wakeFd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

EventLoop::EventLoop(VirtualClock& clock) : EventLoop(static_cast<Clock&>(clock)) {
    virtualClock_ = &clock;
}

void EventLoop::post(std::function<void()> task) {
    postAfter(Duration::zero(), std::move(task));
}

void EventLoop::postAfter(Duration delay, std::function<void()> task) {
    {
        std::lock_guard lock(mutex_);
        queue_.emplace(clock_.now() + delay, std::move(task));
    }
    wake();
}

void EventLoop::watch(int fd, std::function<void()> work) {
    watchedFd_ = fd;
    work_ = std::move(work);
}

void EventLoop::wake() {
    if (!wakeFd_.valid()) return;
    uint64_t one = 1;
    // A full counter already wakes the loop: a failed write loses nothing.
    [[maybe_unused]] ssize_t written = ::write(wakeFd_.get(), &one, sizeof one);
}

std::optional<std::function<void()>> EventLoop::takeDue(Instant until) {
    std::lock_guard lock(mutex_);
    if (exitStatus_) return std::nullopt;  // an ended loop runs nothing more
    auto first = queue_.begin();
    if (first == queue_.end() || first->first > until) return std::nullopt;
    auto task = std::move(first->second);
    queue_.erase(first);
    return task;
}

std::optional<Instant> EventLoop::nextDue() const {
    std::lock_guard lock(mutex_);
    if (queue_.empty()) return std::nullopt;
    return queue_.begin()->first;
}

void EventLoop::runPending() {
    if (work_ && !exitStatus()) work_();
    while (auto task = takeDue(clock_.now())) (*task)();
    if (work_ && !exitStatus()) work_();
}

void EventLoop::advance(Duration d) {
    if (!virtualClock_) throw std::logic_error("advance needs a virtual clock");
    const Instant target = clock_.now() + d;
    for (;;) {
        runPending();
        if (exitStatus()) break;
        auto next = nextDue();
        if (!next || *next > target) break;
        if (*next > clock_.now()) virtualClock_->advance(*next - clock_.now());
    }
    if (target > clock_.now()) virtualClock_->advance(target - clock_.now());
}

int EventLoop::run() {
    for (;;) {
        runPending();
        if (auto status = exitStatus()) return *status;
        int timeout = -1;
        if (auto next = nextDue()) {
            auto left = std::chrono::ceil<std::chrono::milliseconds>(*next - clock_.now());
            timeout = static_cast<int>(std::max<int64_t>(left.count(), 0));
        }
        pollfd fds[2] = {{wakeFd_.get(), POLLIN, 0}, {watchedFd_, POLLIN, 0}};
        int count = watchedFd_ >= 0 ? 2 : 1;
        if (::poll(fds, count, timeout) < 0 && errno != EINTR) {
            // Nothing to wait on any more: the loop cannot go on.
            quit(1);
            continue;
        }
        uint64_t wakes;
        [[maybe_unused]] ssize_t read = ::read(wakeFd_.get(), &wakes, sizeof wakes);
    }
}

void EventLoop::quit(int status) {
    {
        std::lock_guard lock(mutex_);
        if (!exitStatus_) exitStatus_ = status;
    }
    wake();
}

std::optional<int> EventLoop::exitStatus() const {
    std::lock_guard lock(mutex_);
    return exitStatus_;
}

}  // namespace pelko::notifier
