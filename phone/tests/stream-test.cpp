// `stream` through the real program on phone scenes, read by a host-side frame reader that
// checks every frame: how each way of stopping ends, with which frames and exit status.
#include <gtest/gtest.h>

#include <csignal>
#include <thread>

#include "child-process.h"
#include "frame-reader.h"

namespace pelko::phone {
namespace {

using pelko::testing::ChildProcess;
using pelko::testing::ExitStatus;
using pelko::testing::ScopedTempDir;
using testing::FrameReader;

const ExitStatus exited0{true, 0, 0};
const ExitStatus exited1{true, 1, 0};

/// A phone whose screen shows up at once, delivering small pictures quickly; `extra` adds to
/// or replaces the device's fields.
JSON phoneDevice(const JSON& extra = JSON::object()) {
    JSON device = {{"uniqueId", "PHONE-1"},
                   {"name", "Anna's iPhone"},
                   {"mediaTypes", {"muxed"}},
                   {"screen", {{"fps", 30}, {"sizes", {{{"width", 390}, {"height", 844}}}}}}};
    device.update(extra);
    return device;
}

struct StreamTest : ::testing::Test {
    ScopedTempDir folder;

    std::unique_ptr<ChildProcess> start(const JSON& scene,
                                        std::vector<std::string> options = {"--max-edge", "400"}) {
        pelko::testing::writeFile(folder / "scene.json", scene.dump());
        std::vector<std::string> argv{PELKO_PHONE_BINARY, "stream", "PHONE-1"};
        argv.insert(argv.end(), options.begin(), options.end());
        pelko::testing::ChildOptions childOptions;
        childOptions.environment = {{"PELKO_PHONE_SCENE", (folder / "scene.json").string()}};
        return std::make_unique<ChildProcess>(argv, childOptions);
    }

    /// Reads frames until `count` pictures have come.
    static void readPictures(FrameReader& reader, int count) {
        while (reader.pictures() < count) {
            ASSERT_TRUE(reader.next()) << "stream ended after " << reader.pictures();
        }
    }
};

TEST_F(StreamTest, WithoutCameraPermissionTheErrorComesFirst) {
    auto phone = start({{"permission", "denied"}, {"devices", {phoneDevice()}}});
    FrameReader reader(*phone);
    auto first = reader.next();
    ASSERT_TRUE(first);
    EXPECT_EQ(first->kind, 2);
    EXPECT_EQ(
        reader.statuses().front(),
        (JSON{{"event", "error"},
              {"code", "permission"},
              {"message",
               "Pelko is not allowed to use the camera, which covers the iPhone's screen."}}));
    EXPECT_TRUE(reader.readToEnd());
    EXPECT_EQ(reader.statuses().size(), 1u);
    EXPECT_EQ(phone->waitExit(), exited1);
}

TEST_F(StreamTest, APhoneThatNeverShowsUpIsGoneAfterEightSeconds) {
    auto phone = start({{"devices", {phoneDevice({{"uniqueId", "OTHER"}})}}});
    FrameReader reader(*phone);
    const auto began = std::chrono::steady_clock::now();
    EXPECT_TRUE(reader.readToEnd(pelko::testing::Timeout(12000)));
    EXPECT_GE(std::chrono::steady_clock::now() - began, std::chrono::seconds(8));
    EXPECT_EQ(
        reader.statuses(),
        (std::vector<JSON>{
            {{"event", "error"}, {"code", "gone"}, {"message", "The iPhone is not connected."}}}));
    EXPECT_EQ(phone->waitExit(), exited1);
}

TEST_F(StreamTest, ClosingStandardInputWritesEveryQueuedFrameAndNoError) {
    auto phone = start({{"devices", {phoneDevice()}}});
    FrameReader reader(*phone);
    readPictures(reader, 3);
    phone->closeStdin();
    EXPECT_TRUE(reader.readToEnd()) << "the stream ends on a frame boundary";
    EXPECT_EQ(phone->waitExit(), exited0);
    EXPECT_TRUE(reader.errors().empty());
    EXPECT_EQ(reader.statuses().front(), (JSON{{"event", "started"},
                                               {"width", 184},
                                               {"height", 400},
                                               {"sourceWidth", 390},
                                               {"sourceHeight", 844}}));
    EXPECT_EQ(phone->stderrText(), "");
}

TEST_F(StreamTest, TerminationAndInterruptionEndTheStreamQuietly) {
    for (int signal : {SIGTERM, SIGINT}) {
        auto phone = start({{"devices", {phoneDevice()}}});
        FrameReader reader(*phone);
        readPictures(reader, 2);
        phone->signal(signal);
        EXPECT_TRUE(reader.readToEnd());
        EXPECT_EQ(phone->waitExit(), exited0) << signal;
        EXPECT_TRUE(reader.errors().empty());
    }
}

TEST_F(StreamTest, TurningThePhoneAnnouncesTheNewSize) {
    auto phone =
        start({{"devices",
                {phoneDevice({{"screen",
                               {{"fps", 30},
                                {"sizes",
                                 {{{"width", 1170}, {"height", 2532}},
                                  {{"width", 2532}, {"height", 1170}, {"from", 0.5}}}}}}})}}},
              {});
    FrameReader reader(*phone);
    while (reader.statuses().size() < 2) ASSERT_TRUE(reader.next());
    readPictures(reader, reader.pictures() + 1);
    phone->closeStdin();
    EXPECT_TRUE(reader.readToEnd());
    EXPECT_EQ(phone->waitExit(), exited0);
    ASSERT_EQ(reader.statuses().size(), 2u);
    EXPECT_EQ(reader.statuses()[0]["width"], 590);
    EXPECT_EQ(reader.statuses()[1], (JSON{{"event", "started"},
                                          {"width", 1280},
                                          {"height", 590},
                                          {"sourceWidth", 2532},
                                          {"sourceHeight", 1170}}));
}

TEST_F(StreamTest, UnpluggingThePhoneEndsWithGoneAndStatusZero) {
    auto phone = start({{"devices", {phoneDevice({{"disconnectAfter", 0.6}})}}});
    FrameReader reader(*phone);
    EXPECT_TRUE(reader.readToEnd());
    EXPECT_GT(reader.pictures(), 0);
    EXPECT_EQ(
        reader.statuses().back(),
        (JSON{{"event", "error"}, {"code", "gone"}, {"message", "The iPhone was disconnected."}}));
    EXPECT_EQ(phone->waitExit(), exited0);
    EXPECT_EQ(phone->stderrText(), "pelko-phone: The iPhone was disconnected.\n");
}

TEST_F(StreamTest, ARuntimeErrorEndsWithBusyOrFailedAndStatusOne) {
    struct Case {
        JSON error;
        JSON expected;
    };
    const Case cases[] = {
        {{{"after", 0.4}, {"message", "The screen was taken."}, {"busy", true}},
         {{"event", "error"}, {"code", "busy"}, {"message", "The screen was taken."}}},
        {{{"after", 0.4}},
         {{"event", "error"}, {"code", "failed"}, {"message", "The capture session stopped."}}},
    };
    for (const auto& c : cases) {
        auto phone = start({{"devices", {phoneDevice({{"runtimeError", c.error}})}}});
        FrameReader reader(*phone);
        EXPECT_TRUE(reader.readToEnd());
        EXPECT_EQ(reader.statuses().back(), c.expected);
        EXPECT_EQ(phone->waitExit(), exited1);
    }
}

TEST_F(StreamTest, ASessionThatDoesNotStartFails) {
    auto phone = start({{"devices", {phoneDevice({{"sessionFailure", "start"}})}}});
    FrameReader reader(*phone);
    EXPECT_TRUE(reader.readToEnd());
    EXPECT_EQ(reader.statuses(),
              (std::vector<JSON>{{{"event", "error"},
                                  {"code", "failed"},
                                  {"message", "The capture session did not start."}}}));
    EXPECT_EQ(phone->waitExit(), exited1);
}

TEST_F(StreamTest, StopCausesTogetherEndTheStreamOnce) {
    // The host stops the stream three ways at once.
    auto phone = start({{"devices", {phoneDevice()}}});
    FrameReader reader(*phone);
    readPictures(reader, 1);
    phone->signal(SIGTERM);
    phone->closeStdin();
    phone->signal(SIGINT);
    EXPECT_TRUE(reader.readToEnd());
    EXPECT_EQ(phone->waitExit(), exited0);
    EXPECT_TRUE(reader.errors().empty());

    // Unplugged and failing at the same instant: one error frame, with its own status.
    auto both =
        start({{"devices",
                {phoneDevice({{"disconnectAfter", 0.4}, {"runtimeError", {{"after", 0.4}}}})}}});
    FrameReader bothReader(*both);
    EXPECT_TRUE(bothReader.readToEnd());
    ASSERT_EQ(bothReader.errors().size(), 1u);
    const bool gone = bothReader.errors().front()["code"] == "gone";
    EXPECT_EQ(both->waitExit(), gone ? exited0 : exited1);
}

TEST_F(StreamTest, TheErrorFrameIsTheLastFrameEvenAtTheHighestRate) {
    // At 120 full-size pictures a second a picture is nearly always being encoded when the
    // phone goes or the session fails; it must not be written after the error frame.
    const JSON fast = {{"fps", 120}, {"sizes", {{{"width", 1170}, {"height", 2532}}}}};
    for (int round = 0; round < 4; ++round) {
        for (const JSON& ending :
             {JSON{{"disconnectAfter", 0.3}}, JSON{{"runtimeError", {{"after", 0.3}}}}}) {
            JSON device = phoneDevice({{"screen", fast}});
            device.update(ending);
            auto phone = start({{"devices", {device}}}, {"--fps", "120"});
            FrameReader reader(*phone);
            EXPECT_TRUE(reader.readToEnd());
            EXPECT_GT(reader.pictures(), 0);
            ASSERT_EQ(reader.errors().size(), 1u) << ending.dump();
            EXPECT_EQ(reader.statuses().back(), reader.errors().front());
            EXPECT_TRUE(phone->waitExit());
        }
    }
}

TEST_F(StreamTest, TheHostsStopIsHonouredWhileTheReaderStalls) {
    for (const char* way : {"SIGTERM", "end of input"}) {
        // Full-size pictures fill the pipe at once; the test then reads nothing more.
        auto phone = start({{"devices", {phoneDevice({{"screen", {{"fps", 30}}}})}}}, {});
        FrameReader reader(*phone);
        readPictures(reader, 1);
        std::this_thread::sleep_for(std::chrono::milliseconds(800));
        if (way == std::string("SIGTERM")) phone->signal(SIGTERM);
        if (way == std::string("end of input")) phone->closeStdin();
        // The queued frames get 2 seconds; the guard here is far longer.
        EXPECT_EQ(phone->waitExit(pelko::testing::Timeout(10000)), exited0) << way;
    }
}

TEST_F(StreamTest, AReaderThatStopsReadingAndLeavesEndsTheStreamQuietly) {
    auto phone = start({{"devices", {phoneDevice()}}}, {});
    FrameReader reader(*phone);
    readPictures(reader, 1);
    // The pipe fills and the pending write blocks; capture goes on, skipping pictures.
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    phone->closeStdout();
    EXPECT_EQ(phone->waitExit(), exited0);
    EXPECT_EQ(phone->stderrText(), "");
}

}  // namespace
}  // namespace pelko::phone
