// Stopping a call in flight. The MCP face lets a client cancel a tool call, and the user's
// Escape stop one, while it runs; a call then ends at its next pause. Every pause of the
// methods goes through the platform's clock, so the face hands the methods a
// `CancellableClock`: on the thread running a call, its pauses end at once when the call's
// `Cancellation` is raised and throw `Cancelled` up to the face's request boundary.
//
// A pause is a safe place to stop: the events before it have gone out whole. Sequences that
// must not be cut (a click's down and up and the pointer put back) hold a `WholeInputSequence`,
// and a stop raised inside one takes effect at the first pause after it. The line protocol's
// face uses the plain clock, so nothing there is ever stopped.
#pragma once

#include <memory>
#include <mutex>

#include "clock.h"

namespace pelko::computer {

/// Thrown from a pause of a call whose cancellation was raised. It is not a `Failure`: it is no
/// answer for the agent, and only the face that raised the cancellation catches it.
struct Cancelled {};

/// The stop of one call: raised once, from any thread. Shared by the face that may raise it
/// and the thread that runs the call.
class Cancellation {
  public:
    /// Ends the call's pause in progress, if any, and every later one. A second raise does
    /// nothing.
    void raise();
    bool isRaised() const;

  private:
    friend class CancellableClock;
    mutable std::mutex mutex_;
    bool raised_ = false;
    Signal stopped_;
    /// The signal the call waits for now (through `CancellableClock::wait`), raised with the
    /// stop so that the wait ends at once. The call never reads it again: its wait throws.
    Signal* waitedFor_ = nullptr;
};

/// While it lives, `cancellation` is the stop of the pauses taken on the thread that made it.
class CancellationScope {
  public:
    explicit CancellationScope(std::shared_ptr<Cancellation> cancellation);
    ~CancellationScope();
    CancellationScope(const CancellationScope&) = delete;
    CancellationScope& operator=(const CancellationScope&) = delete;

  private:
    std::shared_ptr<Cancellation> cancellation_;
    Cancellation* outer_;
};

/// Held around input events that must go out whole: pauses on this thread are never stopped
/// while one lives.
class WholeInputSequence {
  public:
    WholeInputSequence();
    ~WholeInputSequence();
    WholeInputSequence(const WholeInputSequence&) = delete;
    WholeInputSequence& operator=(const WholeInputSequence&) = delete;
};

/// A clock whose pauses are where a stopped call ends. On a thread inside a `CancellationScope`
/// (and outside any `WholeInputSequence`), `sleepFor` and `wait` throw `Cancelled` when the
/// scope's cancellation is raised before or while they wait. Everywhere else, and for `now`
/// and `schedule`, it is `inner`.
class CancellableClock final : public Clock {
  public:
    explicit CancellableClock(Clock& inner) : inner_(inner) {}
    Instant now() const override { return inner_.now(); }
    void sleepFor(Duration d) override;
    bool wait(Signal& signal, Duration limit) override;
    void schedule(Duration delay, std::function<void()> task) override {
        inner_.schedule(delay, std::move(task));
    }

  private:
    Clock& inner_;
};

}  // namespace pelko::computer
