#include "cancellation.h"

namespace pelko::computer {
namespace {

// The cancellation of the call running on this thread, and how deep in whole input sequences
// it is. Only the thread's own code reads them.
thread_local Cancellation* currentCancellation = nullptr;
thread_local int wholeSequenceDepth = 0;

// The cancellation that may stop a pause taken here now; none inside a whole sequence.
Cancellation* stoppable() {
    return wholeSequenceDepth > 0 ? nullptr : currentCancellation;
}

}  // namespace

void Cancellation::raise() {
    std::lock_guard lock(mutex_);
    if (raised_) return;
    raised_ = true;
    stopped_.raise();
    // Under the lock: the waiting call clears `waitedFor_` under it before its signal can go.
    if (waitedFor_) waitedFor_->raise();
}

bool Cancellation::isRaised() const {
    std::lock_guard lock(mutex_);
    return raised_;
}

CancellationScope::CancellationScope(std::shared_ptr<Cancellation> cancellation)
    : cancellation_(std::move(cancellation)), outer_(currentCancellation) {
    currentCancellation = cancellation_.get();
}

CancellationScope::~CancellationScope() {
    currentCancellation = outer_;
}

WholeInputSequence::WholeInputSequence() {
    ++wholeSequenceDepth;
}

WholeInputSequence::~WholeInputSequence() {
    --wholeSequenceDepth;
}

void CancellableClock::sleepFor(Duration d) {
    Cancellation* cancellation = stoppable();
    if (!cancellation) return inner_.sleepFor(d);
    if (inner_.wait(cancellation->stopped_, d)) throw Cancelled{};
}

bool CancellableClock::wait(Signal& signal, Duration limit) {
    Cancellation* cancellation = stoppable();
    if (!cancellation) return inner_.wait(signal, limit);
    {
        std::lock_guard lock(cancellation->mutex_);
        if (cancellation->raised_) throw Cancelled{};
        cancellation->waitedFor_ = &signal;
    }
    const bool raised = inner_.wait(signal, limit);
    std::lock_guard lock(cancellation->mutex_);
    cancellation->waitedFor_ = nullptr;
    if (cancellation->raised_) throw Cancelled{};
    return raised;
}

}  // namespace pelko::computer
