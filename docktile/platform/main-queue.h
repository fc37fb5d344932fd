// The main queue seam: work handed to the main thread of the process.
#pragma once

#include <functional>

namespace pelko::docktile {

class MainQueue {
  public:
    virtual ~MainQueue() = default;
    /// Runs `task` later on the main thread, after the tasks already queued; callable from any
    /// thread.
    virtual void async(std::function<void()> task) = 0;
};

}  // namespace pelko::docktile
