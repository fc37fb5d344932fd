// The stream's one ending: whichever causes come, from whichever threads, it runs once and
// exits after every queued frame; the host's stops (end of input, SIGTERM, SIGINT) reach it, and
// a session that goes away without a stop leaves the process as it found it.
#include "stream-session.h"

#include <gtest/gtest.h>

#include <fcntl.h>

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
            times.push_back(this->test.clock.elapsed());
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
    std::vector<Duration> times;  ///< on the platform's clock
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

TEST(StreamSession, TheErrorFrameIsTheLastFrameWhilePicturesAreInFlight) {
    // Small pictures as fast as they can be made: when the stop comes, one is nearly always
    // being encoded or waiting for the capture queue.
    const JSON fastPhone = JSON::parse(R"({"devices": [{"uniqueId": "P",
        "screen": {"fps": 120, "sizes": [{"width": 64, "height": 64}]}}]})");
    for (int round = 0; round < 10; ++round) {
        TestPlatform test(fastPhone);
        ::fcntl(test.output.writeEnd, F_SETPIPE_SZ, 1 << 20);  // the reader never holds it up
        ExitRecorder exits(test);
        {
            StreamSession session(test.platform);
            PhoneStreamer& streamer = session.adopt(std::make_unique<PhoneStreamer>(
                test.capture, "P", session.writer(), StreamOptions{.maxEdge = 64, .fps = 120},
                test.clock, test.error.writeEnd));
            streamer.start();
            for (int i = 0; i < 2000 && streamer.encodeAttempts() < 3; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            ASSERT_GE(streamer.encodeAttempts(), 3u);
            session.stop(0, StreamFailure{"gone", "The iPhone was disconnected."});
            ASSERT_TRUE(exits.waitForExit());
        }
        auto frames = parseFrames(exits.outputs[0]);
        ASSERT_GE(frames.size(), 3u);
        ASSERT_EQ(frames.back().kind, 2) << "round " << round;
        EXPECT_EQ(JSON::parse(frames.back().payload)["event"], "error") << "round " << round;
        EXPECT_EQ(std::count_if(frames.begin(), frames.end(),
                                [](const testing::Frame& frame) {
                                    return frame.kind == 2 &&
                                           JSON::parse(frame.payload)["event"] == "error";
                                }),
                  1);
    }
}

TEST(StreamSession, AStalledReaderHoldsTheEndingTwoSecondsOnTheClockAtMost) {
    TestPlatform test(phoneScene);
    ExitRecorder exits(test);
    // The pipe is full and the reader reads nothing: the next frame's write blocks.
    const int flags = ::fcntl(test.output.writeEnd, F_GETFL);
    ::fcntl(test.output.writeEnd, F_SETFL, flags | O_NONBLOCK);
    const std::string block(4096, 'x');
    while (::write(test.output.writeEnd, block.data(), block.size()) > 0) {
    }
    ::fcntl(test.output.writeEnd, F_SETFL, flags);

    StreamSession session(test.platform);
    session.writer()->sendStatus({{"event", "started"}});
    session.stop(0, std::nullopt);
    // Without the clock moving, the ending keeps waiting for the frame.
    EXPECT_FALSE(RealClock().wait(exits.exited, seconds(0.2)));
    // Time passes on the clock a tenth of a second at a time until it gives up.
    for (int i = 0; i < 400 && !exits.exited.isRaised(); ++i) {
        test.clock.advance(seconds(0.1));
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    const bool exited = exits.exited.isRaised();
    if (!exited) test.output.readAvailable();  // frees the writer, so that the test can end
    ASSERT_TRUE(exited) << "still waiting after 40 seconds on the clock";
    std::lock_guard guard(exits.mutex);
    EXPECT_EQ(exits.statuses, std::vector<int>{0});
    EXPECT_GE(exits.times[0], seconds(2));
    // Reading at the exit freed the pipe; the session's end writes the frame that waited.
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
