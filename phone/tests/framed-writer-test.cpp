// The framed writer: exact bytes of frames, the one-picture slot, failed writes and draining.
#include "framed-writer.h"

#include <gtest/gtest.h>

#include <csignal>
#include <thread>

#include "test-support.h"

namespace pelko::phone {
namespace {

using testing::Pipe;

std::string bytes(std::initializer_list<int> values) {
    std::string text;
    for (int value : values) text.push_back(static_cast<char>(value));
    return text;
}

TEST(FramedWriter, FramesCarryABigEndianLengthThatCountsTheKindByte) {
    Pipe pipe;
    FramedWriter writer(pipe.writeEnd);

    // A status whose JSON is 17 bytes.
    writer.sendStatus({{"code", "failed"}});
    writer.drain();
    EXPECT_EQ(pipe.readAvailable(), bytes({0, 0, 0, 0x12,  // length: 17 JSON bytes + kind
                                           2})             // kind: status
                                        + R"({"code":"failed"})");

    // An empty payload is the length 1 and the kind byte alone.
    ASSERT_TRUE(writer.claimFrameSlot());
    writer.sendFrame({});
    writer.drain();
    EXPECT_EQ(pipe.readAvailable(), bytes({0, 0, 0, 1, 1}));

    // A 1000-byte picture.
    std::vector<std::uint8_t> picture(1000);
    for (std::size_t i = 0; i < picture.size(); ++i) picture[i] = static_cast<std::uint8_t>(i);
    ASSERT_TRUE(writer.claimFrameSlot());
    writer.sendFrame(picture);
    writer.drain();
    EXPECT_EQ(pipe.readAvailable(), bytes({0, 0, 0x03, 0xE9,  // length: 1000 + 1
                                           1})                // kind: picture
                                        + std::string(picture.begin(), picture.end()));
}

TEST(FramedWriter, StatusesThatCannotBeSerialisedAreDroppedSilently) {
    Pipe pipe;
    FramedWriter writer(pipe.writeEnd);
    writer.sendStatus({{"message", "\xC3\x28"}});  // not UTF-8
    writer.sendStatus({{"event", "x"}});
    writer.drain();
    EXPECT_EQ(pipe.readAvailable(), bytes({0, 0, 0, 14, 2}) + R"({"event":"x"})");
}

TEST(FramedWriter, TheSlotHoldsOnePictureUntilItsWriteIsDone) {
    Pipe pipe;
    FramedWriter writer(pipe.writeEnd);
    EXPECT_TRUE(writer.claimFrameSlot());
    EXPECT_FALSE(writer.claimFrameSlot());
    writer.releaseFrameSlot();
    EXPECT_TRUE(writer.claimFrameSlot());

    writer.sendFrame({1, 2, 3});
    writer.drain();
    EXPECT_TRUE(writer.claimFrameSlot()) << "the written picture frees the slot";
}

TEST(FramedWriter, EveryFailedWriteFreesTheSlotAndReportsTheBrokenPipe) {
    std::signal(SIGPIPE, SIG_IGN);
    Pipe pipe;
    pipe.closeRead();
    FramedWriter writer(pipe.writeEnd);
    std::atomic<int> broken{0};
    std::thread::id callbackThread;
    writer.setOnBrokenPipe([&] {
        callbackThread = std::this_thread::get_id();
        ++broken;
    });

    ASSERT_TRUE(writer.claimFrameSlot());
    writer.sendFrame({0xFF, 0xD8});
    writer.sendStatus({{"event", "started"}});
    writer.drain();
    EXPECT_EQ(broken, 2) << "each failed job calls back, not only the first";
    EXPECT_NE(callbackThread, std::this_thread::get_id()) << "called on the writer's queue";
    EXPECT_TRUE(writer.claimFrameSlot()) << "a failed write frees the slot too";
}

TEST(FramedWriter, DrainReturnsOnlyOnceEverythingBeforeItIsOnTheOutput) {
    Pipe pipe;
    // A non-blocking output that fills up: writes go out in parts, between "try again" refusals.
    ::fcntl(pipe.writeEnd, F_SETFL, O_NONBLOCK);
    FramedWriter writer(pipe.writeEnd);
    // More than a pipe holds, read slowly on another thread, so that draining has to wait for
    // writes that go out in several parts.
    std::string received;
    std::thread reader([&] {
        char chunk[4096];
        for (ssize_t n; (n = ::read(pipe.readEnd, chunk, sizeof chunk)) > 0;) {
            received.append(chunk, n);
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    });
    std::string expected;
    for (int i = 0; i < 4; ++i) {
        writer.sendStatus({{"n", i}});
        expected += bytes({0, 0, 0, 8, 2}) + R"({"n":)" + std::to_string(i) + "}";
        std::vector<std::uint8_t> picture(100'000, static_cast<std::uint8_t>('a' + i));
        ASSERT_TRUE(writer.claimFrameSlot());
        writer.sendFrame(picture);
        expected += bytes({0, 0x01, 0x86, 0xA1, 1}) + std::string(picture.begin(), picture.end());
        writer.drain();  // frees the slot for the next picture
    }
    writer.drain();
    pipe.closeWrite();
    reader.join();
    EXPECT_EQ(received.size(), expected.size());
    EXPECT_TRUE(received == expected) << "frames whole, in submission order";
}

}  // namespace
}  // namespace pelko::phone
