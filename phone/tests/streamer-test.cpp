// The streamer's handling of each picture: pacing, the one-picture slot checked before any
// work, the size arithmetic and the "started" statuses, and building the pipeline.
#include "phone-streamer.h"

#include <gtest/gtest.h>

#include <array>
#include <csignal>
#include <mutex>
#include <thread>

#include "framed-writer.h"
#include "stream-command.h"
#include "test-support.h"

namespace pelko::phone {
namespace {

using testing::Frame;
using testing::parseFrames;
using testing::Pipe;
using testing::ProcessExit;
using testing::TestPlatform;

/// A solid picture of the given size.
struct Picture {
    Picture(int width, int height) : pixels(static_cast<std::size_t>(width) * height * 4, 128) {
        sample.pixelBuffer = PixelBuffer{width, height, width * 4, pixels.data()};
    }
    std::vector<std::uint8_t> pixels;
    SampleBuffer sample;
};

const JSON phoneScene = JSON::parse(R"({"devices": [{"uniqueId": "P", "mediaTypes": ["muxed"]}]})");

struct StreamerTest : ::testing::Test {
    TestPlatform test{phoneScene};
    Pipe output;
    std::shared_ptr<FramedWriter> writer = std::make_shared<FramedWriter>(output.writeEnd);

    std::unique_ptr<PhoneStreamer> makeStreamer(StreamOptions options = {}) {
        auto streamer = std::make_unique<PhoneStreamer>(test.capture, "P", writer, options,
                                                        test.clock, test.error.writeEnd);
        // Uptime is never near zero on a running computer.
        test.clock.advance(seconds(100));
        return streamer;
    }
};

TEST_F(StreamerTest, AStartedStatusPrecedesTheFirstPictureAndEverySizeChange) {
    auto streamer = makeStreamer();
    Picture portrait(1170, 2532), landscape(2532, 1170);
    for (const Picture* picture : {&portrait, &portrait, &landscape}) {
        streamer->captureOutput(picture->sample);
        writer->drain();
        test.clock.advance(seconds(0.1));
    }
    auto frames = parseFrames(output.readAvailable());
    ASSERT_EQ(frames.size(), 5u);
    EXPECT_EQ(frames[0].kind, 2);
    EXPECT_EQ(JSON::parse(frames[0].payload),
              JSON::parse(R"({"event":"started","width":590,"height":1280,
                              "sourceWidth":1170,"sourceHeight":2532})"));
    EXPECT_EQ(frames[1].kind, 1);
    EXPECT_EQ(testing::jpegSize(frames[1].payload), (std::pair{590, 1280}));
    EXPECT_EQ(frames[2].kind, 1) << "same size, no new status";
    EXPECT_EQ(frames[3].kind, 2);
    EXPECT_EQ(JSON::parse(frames[3].payload),
              JSON::parse(R"({"event":"started","width":1280,"height":590,
                              "sourceWidth":2532,"sourceHeight":1170})"));
    EXPECT_EQ(testing::jpegSize(frames[4].payload), (std::pair{1280, 590}));
}

TEST_F(StreamerTest, SmallSourcesKeepTheirSizeLoweredToEvenNumbers) {
    auto streamer = makeStreamer({.maxEdge = 4000, .fps = 30, .quality = 0});
    Picture picture(1125, 2437);
    streamer->captureOutput(picture.sample);
    writer->drain();
    auto frames = parseFrames(output.readAvailable());
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(JSON::parse(frames[0].payload)["width"], 1124);
    EXPECT_EQ(testing::jpegSize(frames[1].payload), (std::pair{1124, 2436}));
}

TEST_F(StreamerTest, PicturesArePacedByNineTenthsOfTheFramePeriod) {
    auto streamer = makeStreamer({.maxEdge = 64, .fps = 10, .quality = 0.7});
    EXPECT_EQ(streamer->minInterval(), 90'000'000u);
    Picture picture(64, 64);
    auto offer = [&](double after) {
        test.clock.advance(seconds(after));
        streamer->captureOutput(picture.sample);
        writer->drain();
    };
    offer(0);     // sent
    offer(0.05);  // 50 ms after: skipped
    offer(0.03);  // 80 ms after: skipped
    offer(0.01);  // 90 ms after the last one sent: sent
    offer(0.089);
    EXPECT_EQ(streamer->encodeAttempts(), 2u);
    EXPECT_EQ(parseFrames(output.readAvailable()).size(), 3u);  // started and two pictures
}

TEST_F(StreamerTest, ATakenSlotSkipsThePictureBeforeAnyWork) {
    auto streamer = makeStreamer();
    Picture picture(100, 100);
    ASSERT_TRUE(writer->claimFrameSlot());
    streamer->captureOutput(picture.sample);
    writer->drain();
    EXPECT_EQ(streamer->encodeAttempts(), 0u);
    EXPECT_EQ(output.readAvailable(), "");

    // A sample without a picture gives the slot back.
    writer->releaseFrameSlot();
    test.clock.advance(seconds(1));
    streamer->captureOutput(SampleBuffer{});
    EXPECT_TRUE(writer->claimFrameSlot());
    EXPECT_EQ(streamer->encodeAttempts(), 0u);
}

TEST_F(StreamerTest, AReaderThatStopsReadingCostsNoEncodingAndItsLeavingFreesTheSlot) {
    std::signal(SIGPIPE, SIG_IGN);
    ::fcntl(output.writeEnd, F_SETPIPE_SZ, 4096);
    std::atomic<int> broken{0};
    writer->setOnBrokenPipe([&] { ++broken; });
    auto streamer = makeStreamer({.maxEdge = 1280, .fps = 120, .quality = 1});
    Picture picture(600, 800);
    streamer->captureOutput(picture.sample);  // larger than the pipe: its write blocks
    for (int i = 0; i < 20; ++i) {
        test.clock.advance(seconds(0.1));
        streamer->captureOutput(picture.sample);
    }
    EXPECT_EQ(streamer->encodeAttempts(), 1u) << "pictures behind a pending write are not encoded";
    EXPECT_FALSE(writer->claimFrameSlot());

    output.closeRead();  // the reader goes away: the pending write fails
    writer->drain();
    // The picture's write fails, and so does the status before it if it had not gone out yet.
    EXPECT_GE(broken, 1);
    EXPECT_TRUE(writer->claimFrameSlot());
}

TEST_F(StreamerTest, BuildingFailsWithTheInputsErrorOrWhenTheSessionRefuses) {
    TestPlatform inputFails(JSON::parse(R"({"devices": [{"uniqueId": "P",
        "sessionFailure": "input", "inputError": "The device is locked."}]})"));
    try {
        PhoneStreamer streamer(inputFails.capture, "P", writer, {}, test.clock, -1);
        ADD_FAILURE() << "built";
    } catch (const CaptureError& error) {
        EXPECT_STREQ(error.what(), "The device is locked.");
    }
    TestPlatform refuses(
        JSON::parse(R"({"devices": [{"uniqueId": "P", "sessionFailure": "refused"}]})"));
    try {
        PhoneStreamer streamer(refuses.capture, "P", writer, {}, test.clock, -1);
        ADD_FAILURE() << "built";
    } catch (const CaptureError& error) {
        EXPECT_STREQ(error.what(), "The capture session refused the iPhone's stream.");
    }
}

/// The red, green and blue of the pixel at (x, y) of a JPEG.
std::array<int, 3> jpegPixel(const std::vector<std::uint8_t>& jpeg, int x, int y) {
    tjhandle handle = tjInitDecompress();
    int width = 0, height = 0, subsampling = 0, colorspace = 0;
    tjDecompressHeader3(handle, jpeg.data(), jpeg.size(), &width, &height, &subsampling,
                        &colorspace);
    std::vector<unsigned char> rgb(static_cast<std::size_t>(width) * height * 3);
    const int failed =
        tjDecompress2(handle, jpeg.data(), jpeg.size(), rgb.data(), width, 0, height, TJPF_RGB, 0);
    tjDestroy(handle);
    if (failed || x >= width || y >= height) return {-1, -1, -1};
    const unsigned char* pixel = rgb.data() + (static_cast<std::size_t>(y) * width + x) * 3;
    return {pixel[0], pixel[1], pixel[2]};
}

TEST(PictureEncoder, BlackAndWhiteKeepTheirFullRangeWhenThePictureChangesSize) {
    // Left half black, right half white.
    const int width = 64, height = 64;
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(width) * height * 4, 255);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width / 2; ++x) {
            std::fill_n(pixels.data() + (static_cast<std::size_t>(y) * width + x) * 4, 3, 0);
        }
    }
    const pictures::Pixels picture{width, height, width * 4, pictures::PixelOrder::bgra,
                                   pixels.data()};
    pictures::JPEGEncoder encoder;
    // Each change of size makes a new scaler, which may well sit where the last one was.
    for (const auto& [w, h] : {std::pair{64, 64}, {32, 32}, {64, 64}, {32, 32}, {16, 16}}) {
        auto jpeg = encoder.encode(picture, w, h, 1.0);
        ASSERT_TRUE(jpeg);
        for (int channel : jpegPixel(*jpeg, 1, h / 2)) EXPECT_LE(channel, 8) << w;
        for (int channel : jpegPixel(*jpeg, w - 2, h / 2)) EXPECT_GE(channel, 247) << w;
    }
}

/// Runs `stream` in this process up to its exit, which must come before the capture starts.
std::vector<Frame> streamUntilExit(TestPlatform& test, int expectedStatus) {
    try {
        runStream(test.platform, "P", {});
        ADD_FAILURE() << "stream did not exit";
    } catch (const ProcessExit& exit) {
        EXPECT_EQ(exit.status, expectedStatus);
    }
    return parseFrames(test.output.readAvailable());
}

TEST(RunStream, FailuresBeforeStreamingEndWithOneErrorFrame) {
    struct Case {
        JSON scene;
        const char* code;
        const char* message;
        std::vector<Duration> pauses;
    };
    const Duration step = seconds(0.25);
    const std::vector<Case> cases = {
        {JSON::parse(R"({"permission": "notDetermined", "devices": [{"uniqueId": "P"}]})"),
         "permission",
         "Pelko is not allowed to use the camera, which covers the iPhone's screen.",
         {}},
        {JSON::parse(R"({"devices": []})"), "gone", "The iPhone is not connected.",
         std::vector<Duration>(32, step)},
        {JSON::parse(R"({"wiredIphones": ["S"], "devices": [{"uniqueId": "C",
             "model": "iPhone15,2", "mediaTypes": ["video"]}]})"),
         "screenMissing", "The Mac sees the iPhone as a camera only, not its screen.",
         std::vector<Duration>(32, step)},
        {JSON::parse(R"({"devices": [{"uniqueId": "P", "appearAfter": 1,
             "sessionFailure": "refused"}]})"),
         "failed", "The capture session refused the iPhone's stream.",
         std::vector<Duration>(4, step)},
        {JSON::parse(R"({"devices": [{"uniqueId": "P", "inUseByAnotherApp": true,
             "sessionFailure": "input"}]})"),
         "busy",
         "Another app is showing this iPhone's screen.",
         {}},
    };
    for (const auto& c : cases) {
        TestPlatform test(c.scene);
        auto frames = streamUntilExit(test, 1);
        ASSERT_EQ(frames.size(), 1u) << c.code;
        EXPECT_EQ(frames[0].kind, 2);
        EXPECT_EQ(JSON::parse(frames[0].payload),
                  (JSON{{"event", "error"}, {"code", c.code}, {"message", c.message}}));
        EXPECT_EQ(test.clock.pauses(), c.pauses) << c.code;
        EXPECT_NE(test.error.readAvailable().find(std::string("pelko-phone: ") + c.message),
                  std::string::npos);
    }
}

}  // namespace
}  // namespace pelko::phone
