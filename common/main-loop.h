// The main thread's run loop: tasks posted from any thread run on the thread that called
// `run`, one at a time, in the order posted (delayed tasks when their time has come).
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <thread>
#include <type_traits>

#include "clock.h"

namespace pelko {

class MainLoop {
  public:
    /// Delayed tasks take their time from `clock`, which must outlive the loop.
    explicit MainLoop(Clock& clock) : clock_(clock) {}

    /// Runs posted tasks on the calling thread until `quit`.
    void run();
    /// Makes the calling thread the loop's thread ahead of `run`, so that `onMain` from other
    /// threads started in between waits for the loop instead of running where it is called.
    void claimCurrentThread();
    /// Ends `run` after the task in progress.
    void quit();
    void post(std::function<void()> task);
    void postAfter(Duration delay, std::function<void()> task);
    /// Runs `task` on the loop's thread and waits for it; runs it directly when called there
    /// (or before `run` has started, when there is no other thread to hop to).
    void onMain(const std::function<void()>& task);
    bool isMainThread() const;

  private:
    Clock& clock_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::function<void()>> tasks_;
    bool running_ = false;
    bool quitting_ = false;
    std::thread::id mainThread_;
};

/// Runs `body` on the loop's thread and returns its result: directly when already there,
/// otherwise after a synchronous hop that waits for it.
template <typename Body>
auto onMain(MainLoop& loop, Body&& body) -> std::invoke_result_t<Body&> {
    using Result = std::invoke_result_t<Body&>;
    if constexpr (std::is_void_v<Result>) {
        loop.onMain(body);
    } else {
        std::optional<Result> result;
        loop.onMain([&] { result.emplace(body()); });
        return std::move(*result);
    }
}

}  // namespace pelko
