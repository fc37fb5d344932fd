#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>

#include "main-loop.h"
#include "serial-queue.h"

namespace pelko {
namespace {

TEST(SerialQueue, RunsTasksOneAtATimeInOrder) {
    std::vector<int> ran;
    std::atomic<int> running{0};
    bool overlapped = false;
    {
        SerialQueue queue("test.queue");
        for (int i = 0; i < 50; ++i) {
            queue.async([&, i] {
                if (++running > 1) overlapped = true;
                ran.push_back(i);
                --running;
            });
        }
    }  // the destructor drains the queue
    ASSERT_EQ(ran.size(), 50u);
    for (int i = 0; i < 50; ++i) EXPECT_EQ(ran[i], i);
    EXPECT_FALSE(overlapped);
}

TEST(SerialQueue, SyncWaitsAndPassesErrorsBack) {
    SerialQueue queue("test.queue");
    bool onQueue = false;
    queue.sync([&] { onQueue = queue.isCurrent(); });
    EXPECT_TRUE(onQueue);
    EXPECT_THROW(queue.sync([] { throw std::runtime_error("boom"); }), std::runtime_error);
}

TEST(MainLoop, RunsPostedTasksInOrderAndDelayedOnesAfterTheirTime) {
    VirtualClock clock;
    MainLoop loop(clock);
    std::vector<std::string> ran;
    loop.postAfter(seconds(1), [&] {
        ran.push_back("delayed");
        loop.onMain([&] { ran.push_back("direct"); });  // already on the loop: no hop
        loop.quit();
    });
    loop.post([&] { ran.push_back("first"); });
    loop.post([&] {
        ran.push_back("second");
        clock.advance(seconds(1));  // the delayed task is posted behind this one
    });
    loop.run();
    EXPECT_EQ(ran, (std::vector<std::string>{"first", "second", "delayed", "direct"}));
}

TEST(MainLoop, OnMainFromAnotherThreadRunsOnTheLoop) {
    RealClock clock;
    MainLoop loop(clock);
    std::thread::id ranOn;
    std::thread worker([&] {
        // Wait until the loop runs so that the hop is real.
        std::atomic<bool> looping{false};
        loop.post([&] { looping = true; });
        while (!looping) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        loop.onMain([&] { ranOn = std::this_thread::get_id(); });
        loop.quit();
    });
    loop.run();
    worker.join();
    EXPECT_EQ(ranOn, std::this_thread::get_id());
}

TEST(MainLoop, OnMainFromAnotherThreadWaitsForAClaimedLoopThatHasNotStartedYet) {
    RealClock clock;
    MainLoop loop(clock);
    loop.claimCurrentThread();
    std::thread::id ranOn;
    std::atomic<bool> returned{false};
    std::thread worker([&] {
        loop.onMain([&] { ranOn = std::this_thread::get_id(); });
        returned = true;
        loop.quit();
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_FALSE(returned) << "the task must wait for the loop, not run on the worker";
    loop.run();
    worker.join();
    EXPECT_EQ(ranOn, std::this_thread::get_id());
}

}  // namespace
}  // namespace pelko
