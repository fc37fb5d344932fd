// A serial dispatch queue: one thread running closures one at a time, in the order given.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace pelko {

class SerialQueue {
  public:
    explicit SerialQueue(std::string label);
    /// Runs what is queued, then stops the thread.
    ~SerialQueue();
    SerialQueue(const SerialQueue&) = delete;
    SerialQueue& operator=(const SerialQueue&) = delete;

    const std::string& label() const { return label_; }
    /// Queues `task` and returns at once.
    void async(std::function<void()> task);
    /// Queues `task` and waits until it has run. Must not be called from the queue itself.
    void sync(const std::function<void()>& task);
    /// Whether the calling thread is this queue's thread.
    bool isCurrent() const { return std::this_thread::get_id() == thread_.get_id(); }

  private:
    void run();
    std::string label_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::function<void()>> tasks_;
    bool stopping_ = false;
    std::thread thread_;
};

}  // namespace pelko
