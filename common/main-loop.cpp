#include "main-loop.h"

#include <future>

namespace pelko {

void MainLoop::run() {
    std::unique_lock lock(mutex_);
    mainThread_ = std::this_thread::get_id();
    running_ = true;
    while (!quitting_) {
        changed_.wait(lock, [&] { return quitting_ || !tasks_.empty(); });
        while (!quitting_ && !tasks_.empty()) {
            auto task = std::move(tasks_.front());
            tasks_.pop_front();
            lock.unlock();
            task();
            lock.lock();
        }
    }
    running_ = false;
    quitting_ = false;
}

void MainLoop::claimCurrentThread() {
    std::lock_guard lock(mutex_);
    mainThread_ = std::this_thread::get_id();
    running_ = true;
}

void MainLoop::quit() {
    {
        std::lock_guard lock(mutex_);
        quitting_ = true;
    }
    changed_.notify_all();
}

void MainLoop::post(std::function<void()> task) {
    {
        std::lock_guard lock(mutex_);
        tasks_.push_back(std::move(task));
    }
    changed_.notify_all();
}

void MainLoop::postAfter(Duration delay, std::function<void()> task) {
    clock_.schedule(delay, [this, task = std::move(task)]() mutable { post(std::move(task)); });
}

bool MainLoop::isMainThread() const {
    std::lock_guard lock(mutex_);
    return running_ && std::this_thread::get_id() == mainThread_;
}

void MainLoop::onMain(const std::function<void()>& task) {
    bool hop;
    {
        std::lock_guard lock(mutex_);
        hop = running_ && std::this_thread::get_id() != mainThread_;
    }
    if (!hop) {
        task();
        return;
    }
    std::promise<void> done;
    post([&] {
        try {
            task();
            done.set_value();
        } catch (...) {
            done.set_exception(std::current_exception());
        }
    });
    done.get_future().get();
}

}  // namespace pelko
