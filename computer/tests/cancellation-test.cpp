// The cancellable clock: which pauses a raised cancellation ends, and that it ends them at once.
#include "cancellation.h"

#include <gtest/gtest.h>

#include <thread>

namespace pelko::computer {
namespace {

using namespace std::chrono_literals;

// Runs `body` on a thread of its own (a call's queue) and says whether it threw `Cancelled`.
template <typename Body>
bool cancelledOnItsThread(Body body) {
    bool cancelled = false;
    std::thread([&] {
        try {
            body();
        } catch (const Cancelled&) {
            cancelled = true;
        }
    }).join();
    return cancelled;
}

TEST(CancellableClock, EndsPausesOnlyOnTheThreadOfTheCancelledCall) {
    VirtualClock inner;
    CancellableClock clock(inner);
    auto cancellation = std::make_shared<Cancellation>();
    cancellation->raise();
    Signal never;

    EXPECT_FALSE(cancelledOnItsThread([&] {
        clock.sleepFor(50ms);
        EXPECT_FALSE(clock.wait(never, 1s));
    })) << "a thread without the call's scope pauses as the clock it wraps";
    EXPECT_EQ(inner.pauses(), std::vector<Duration>{50ms});

    EXPECT_TRUE(cancelledOnItsThread([&] {
        const CancellationScope scope(cancellation);
        clock.sleepFor(50ms);
    }));
    EXPECT_TRUE(cancelledOnItsThread([&] {
        const CancellationScope scope(cancellation);
        clock.wait(never, 1s);
    }));
    EXPECT_FALSE(cancelledOnItsThread([&] {
        { const CancellationScope scope(cancellation); }
        clock.sleepFor(50ms);
    })) << "the scope ends with its call";
}

TEST(CancellableClock, NeverCutsAWholeInputSequenceButStopsAtThePauseAfterIt) {
    VirtualClock inner;
    CancellableClock clock(inner);
    auto cancellation = std::make_shared<Cancellation>();
    std::vector<std::string> done;
    EXPECT_TRUE(cancelledOnItsThread([&] {
        const CancellationScope scope(cancellation);
        {
            const WholeInputSequence click;
            done.push_back("down");
            cancellation->raise();
            clock.sleepFor(60ms);
            done.push_back("up");
            clock.sleepFor(60ms);
            done.push_back("pointer back");
        }
        clock.sleepFor(50ms);
        done.push_back("after");
    }));
    EXPECT_EQ(done, (std::vector<std::string>{"down", "up", "pointer back"}));
    EXPECT_EQ(inner.pauses(), (std::vector<Duration>{60ms, 60ms}));
}

TEST(CancellableClock, ARaiseFromAnotherThreadEndsTheWaitInProgressAtOnce) {
    // On the real clock: were the waits not ended by the raise, they would last a minute.
    RealClock inner;
    CancellableClock clock(inner);
    for (const bool sleeping : {true, false}) {
        auto cancellation = std::make_shared<Cancellation>();
        auto waitedFor = std::make_shared<Signal>();
        Signal started;
        std::thread raiser([&] {
            inner.wait(started, 60s);
            std::this_thread::sleep_for(20ms);  // lets the call reach its wait
            cancellation->raise();
            cancellation->raise();
        });
        EXPECT_TRUE(cancelledOnItsThread([&] {
            const CancellationScope scope(cancellation);
            started.raise();
            if (sleeping)
                clock.sleepFor(60s);
            else
                clock.wait(*waitedFor, 60s);
        })) << (sleeping ? "sleep" : "wait");
        raiser.join();
        EXPECT_TRUE(cancellation->isRaised());
        // A completion that comes after the call gave up raises the signal harmlessly.
        waitedFor->raise();
    }
}

}  // namespace
}  // namespace pelko::computer
