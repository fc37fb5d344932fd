#include "clock.h"

#include <gtest/gtest.h>

#include <memory>

namespace pelko {
namespace {

TEST(VirtualClock, SleepsTakeNoRealTimeAndAreRecorded) {
    VirtualClock clock;
    const auto start = std::chrono::steady_clock::now();
    clock.sleepFor(seconds(20));
    clock.sleepFor(seconds(0.25));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    EXPECT_EQ(clock.pauses(), (std::vector<Duration>{seconds(20), seconds(0.25)}));
    EXPECT_DOUBLE_EQ(inSeconds(clock.elapsed()), 20.25);
}

TEST(VirtualClock, ScheduledTasksRunInTimeOrderWhenTheirTimeIsPassed) {
    VirtualClock clock;
    std::vector<int> ran;
    clock.schedule(seconds(2), [&] { ran.push_back(2); });
    clock.schedule(seconds(1), [&] { ran.push_back(1); });
    clock.sleepFor(seconds(0.5));
    EXPECT_TRUE(ran.empty());
    clock.sleepFor(seconds(1.5));
    EXPECT_EQ(ran, (std::vector<int>{1, 2}));
}

TEST(VirtualClock, WaitEndsAtTheRaiseOrAtTheLimit) {
    VirtualClock clock;
    auto signal = std::make_shared<Signal>();
    clock.schedule(seconds(3), [signal] { signal->raise(); });
    EXPECT_TRUE(clock.wait(*signal, seconds(20)));
    EXPECT_DOUBLE_EQ(inSeconds(clock.elapsed()), 3);

    Signal never;
    EXPECT_FALSE(clock.wait(never, seconds(20)));
    EXPECT_DOUBLE_EQ(inSeconds(clock.elapsed()), 23);
    EXPECT_TRUE(clock.pauses().empty()) << "waits are not pauses";
}

TEST(VirtualClock, ALateRaiseAfterTheWaitGaveUpIsHarmless) {
    VirtualClock clock;
    auto signal = std::make_shared<Signal>();
    clock.schedule(seconds(30), [signal] { signal->raise(); });
    EXPECT_FALSE(clock.wait(*signal, seconds(20)));
    clock.advance(seconds(15));
    EXPECT_TRUE(signal->isRaised());
}

TEST(RealClock, RunsScheduledTasksAndWaitsForSignals) {
    RealClock clock;
    auto signal = std::make_shared<Signal>();
    clock.schedule(seconds(0.01), [signal] { signal->raise(); });
    EXPECT_TRUE(clock.wait(*signal, seconds(10)));
    Signal never;
    EXPECT_FALSE(clock.wait(never, seconds(0.01)));
}

}  // namespace
}  // namespace pelko
