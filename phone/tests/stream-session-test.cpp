// The stream's one ending: whichever causes come, from whichever threads, it runs once and
// exits after every queued frame; the host's stops (end of input, SIGTERM, SIGINT) reach it, and
// a session that goes away without a stop leaves the process as it found it.
#include "stream-session.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <mutex>
#include <thread>

#include "test-support.h"

namespace pelko::phone {
namespace {

using testing::parseFrames;
using testing::Pipe;
using testing::TestPlatform;

const JSON phoneScene = JSON::parse(R"({"devices": [{"uniqueId": "P"}]})");

/// Stands in for the process's exit: records each exit, with the output written by then and the
/// thread it came on, and lets the test wait for the first.
struct ExitRecorder {
    explicit ExitRecorder(TestPlatform& test) : test(test) {
        test.platform.exitProcess = [this](int status) {
            std::lock_guard guard(mutex);
            statuses.push_back(status);
            outputs.push_back(this->test.output.readAvailable());
            threads.push_back(std::this_thread::get_id());
            exited.raise();
        };
    }
    /// Waits (a generous guard against a hang, not a measured time) for the first exit.
    bool waitForExit() { return RealClock().wait(exited, seconds(20)); }

    TestPlatform& test;
    std::mutex mutex;
    std::vector<int> statuses;
    std::vector<std::string> outputs;
    std::vector<std::thread::id> threads;
    Signal exited;
};

TEST(StreamSession, FinishRunsTheEndingOnceWhoeverCallsAndExitsAfterEveryFrameIsOut) {
    TestPlatform test(JSON::parse(R"({"devices": [{"uniqueId": "P"}]})"));
    std::vector<int> exits;
    std::string outputAtExit;
    std::mutex recorded;
    test.platform.exitProcess = [&](int status) {
        std::lock_guard guard(recorded);
        exits.push_back(status);
        outputAtExit = test.output.readAvailable();
    };
    StreamSession session(test.platform);
    // A picture and a status already queued must still go out before the exit.
    ASSERT_TRUE(session.writer()->claimFrameSlot());
    session.writer()->sendFrame({0xFF, 0xD8, 0xFF, 0xD9});

    std::vector<std::thread> finishers;
    for (int i = 0; i < 8; ++i) {
        finishers.emplace_back([&session, i] {
            session.finish(
                i % 2, i % 2 ? std::optional<StreamFailure>({"failed", "Stop " + std::to_string(i)})
                             : std::nullopt);
        });
    }
    for (auto& finisher : finishers) finisher.join();

    ASSERT_EQ(exits.size(), 1u);
    auto frames = parseFrames(outputAtExit);
    ASSERT_GE(frames.size(), 1u);
    EXPECT_EQ(frames[0].payload, "\xFF\xD8\xFF\xD9");
    if (exits[0] == 1) {
        ASSERT_EQ(frames.size(), 2u) << "the one error frame";
        EXPECT_EQ(JSON::parse(frames[1].payload)["code"], "failed");
    } else {
        EXPECT_EQ(frames.size(), 1u) << "a plain stop sends no error frame";
    }
    EXPECT_EQ(test.output.readAvailable(), "") << "nothing after the exit";
}

TEST(StreamSession, StopsFromManyThreadsEndOnceOnTheSessionsOwnThread) {
    TestPlatform test(phoneScene);
    ExitRecorder exits(test);
    std::vector<std::thread::id> callers{std::this_thread::get_id()};
    {
        StreamSession session(test.platform);
        std::vector<std::thread> causes;
        for (int i = 0; i < 8; ++i) {
            causes.emplace_back([&session, i] {
                session.stop(i % 2,
                             i % 2 ? std::optional<StreamFailure>({"gone", "Stop"}) : std::nullopt);
            });
            callers.push_back(causes.back().get_id());
        }
        for (auto& cause : causes) cause.join();
        ASSERT_TRUE(exits.waitForExit());
    }  // the session's end waits for its ending: a second one would be recorded by now

    ASSERT_EQ(exits.statuses.size(), 1u);
    EXPECT_EQ(std::count(callers.begin(), callers.end(), exits.threads[0]), 0)
        << "a cause never waits for the ending";
    auto frames = parseFrames(exits.outputs[0]);
    if (exits.statuses[0] == 1) {
        ASSERT_EQ(frames.size(), 1u);
        EXPECT_EQ(JSON::parse(frames[0].payload)["code"], "gone");
    } else {
        EXPECT_TRUE(frames.empty());
    }
}

/// A platform whose standard input is a pipe the test holds, with its exits recorded.
struct HostSide {
    HostSide() { test.platform.inputFd = input.readEnd; }
    TestPlatform test{phoneScene};
    ExitRecorder exits{test};
    Pipe input;
};

TEST(StreamSession, TheHostStopsByClosingStandardInputOrWithSIGTERMOrSIGINT) {
    for (const char* way : {"end of input", "SIGTERM", "SIGINT"}) {
        HostSide host;
        auto& [test, exits, input] = host;
        {
            StreamSession session(test.platform);
            session.watchHostStops();
            // Whatever the host writes is read and dropped: only the end of input stops.
            ASSERT_EQ(::write(input.writeEnd, "xyz", 3), 3);
            if (way == std::string("end of input")) input.closeWrite();
            if (way == std::string("SIGTERM")) std::raise(SIGTERM);
            if (way == std::string("SIGINT")) std::raise(SIGINT);
            ASSERT_TRUE(exits.waitForExit()) << way;
        }
        EXPECT_EQ(exits.statuses, std::vector<int>{0}) << way;
        EXPECT_EQ(exits.outputs[0], "") << way << ": no error frame";
    }
}

TEST(StreamSession, ASessionThatEndsWithoutAStopExitsNothingAndGivesTheSignalsBack) {
    HostSide host;
    {
        StreamSession session(host.test.platform);
        session.watchHostStops();
        struct sigaction during {};
        ::sigaction(SIGTERM, nullptr, &during);
        EXPECT_NE(during.sa_handler, SIG_DFL) << "SIGTERM is watched while the session runs";
    }
    EXPECT_TRUE(host.exits.statuses.empty());
    for (int number : {SIGTERM, SIGINT}) {
        struct sigaction after {};
        ::sigaction(number, nullptr, &after);
        EXPECT_EQ(after.sa_handler, SIG_DFL) << number;
    }
}

}  // namespace
}  // namespace pelko::phone
