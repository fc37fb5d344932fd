// The system-call layer: retries, ends of input, time-outs and errors named by their call.
#include "fd.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <thread>

namespace pelko {
namespace {

using namespace std::chrono_literals;

Pipe pipeOrFail() {
    auto made = makePipe();
    if (!made) throw std::runtime_error(made.error().describe());
    return std::move(made).take();
}

TEST(FileDescriptor, ClosesWhenItsOwnerEndsAndNotWhenReleased) {
    Pipe pipe = pipeOrFail();
    const int readFd = pipe.readEnd.get();
    {
        FileDescriptor moved = std::move(pipe.readEnd);
        EXPECT_FALSE(pipe.readEnd.valid());
        EXPECT_EQ(moved.get(), readFd);
    }
    EXPECT_EQ(fcntl(readFd, F_GETFD), -1);  // closed with `moved`
    const int writeFd = pipe.writeEnd.release();
    EXPECT_NE(fcntl(writeFd, F_GETFD), -1);
    close(writeFd);
}

TEST(ReadAndWrite, ReadExactlyGathersShortWritesAndStopsAtTheEnd) {
    Pipe pipe = pipeOrFail();
    std::thread writer([&] {
        for (const char* part : {"ab", "cde", "f"}) {
            ASSERT_TRUE(writeAll(pipe.writeEnd.get(), part).ok());
            std::this_thread::sleep_for(5ms);
        }
        pipe.writeEnd.reset();
    });
    char bytes[8] = {};
    const auto first = readExactly(pipe.readEnd.get(), bytes, 4);
    ASSERT_TRUE(first.ok());
    EXPECT_EQ(first.value(), 4u);
    EXPECT_EQ(std::string(bytes, 4), "abcd");
    const auto rest = readExactly(pipe.readEnd.get(), bytes, 8);  // only 2 left, then the end
    writer.join();
    ASSERT_TRUE(rest.ok());
    EXPECT_EQ(rest.value(), 2u);
    EXPECT_EQ(std::string(bytes, 2), "ef");
    const auto end = readSome(pipe.readEnd.get(), bytes, sizeof bytes);
    ASSERT_TRUE(end.ok());
    EXPECT_EQ(end.value(), 0u);
}

TEST(ReadAndWrite, WaitsOfNonBlockingDescriptorsEndByDeadlineOrWake) {
    Pipe pipe = pipeOrFail();
    fcntl(pipe.readEnd.get(), F_SETFL, O_NONBLOCK);
    char byte;
    const auto late =
        readSome(pipe.readEnd.get(), &byte, 1, Wait{std::chrono::steady_clock::now() + 20ms});
    ASSERT_FALSE(late.ok());
    EXPECT_EQ(late.error().call, "poll");
    EXPECT_EQ(late.error().number, ETIMEDOUT);

    Pipe wake = pipeOrFail();
    ASSERT_TRUE(writeAll(wake.writeEnd.get(), "w").ok());
    const auto woken =
        readSome(pipe.readEnd.get(), &byte, 1, Wait{std::nullopt, wake.readEnd.get()});
    ASSERT_FALSE(woken.ok());
    EXPECT_EQ(woken.error().number, ECANCELED);

    ASSERT_TRUE(writeAll(pipe.writeEnd.get(), "x").ok());
    const auto ready =
        readSome(pipe.readEnd.get(), &byte, 1, Wait{std::chrono::steady_clock::now() + 1s});
    ASSERT_TRUE(ready.ok());
    EXPECT_EQ(byte, 'x');
}

TEST(ReadAndWrite, WritesToAGonePeerFailWithTheCallsNameAndNoSignal) {
    // A socket: sent without SIGPIPE even though the test does not ignore it.
    int pair[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair), 0);
    FileDescriptor mine(pair[0]);
    close(pair[1]);
    const auto sent = sendAll(mine.get(), "hello");
    ASSERT_FALSE(sent.ok());
    EXPECT_EQ(sent.error().call, "send");
    EXPECT_EQ(sent.error().number, EPIPE);
    EXPECT_EQ(sent.error().describe(), "send: Broken pipe");

    // A pipe: written with write; SIGPIPE is ignored here as the programs do.
    auto previous = signal(SIGPIPE, SIG_IGN);
    Pipe pipe = pipeOrFail();
    pipe.readEnd.reset();
    const auto written = writeAll(pipe.writeEnd.get(), "hello");
    signal(SIGPIPE, previous);
    ASSERT_FALSE(written.ok());
    EXPECT_EQ(written.error().call, "write");
    EXPECT_EQ(written.error().number, EPIPE);
}

TEST(ReadAndWrite, WriteAllWaitsForAFullNonBlockingPipe) {
    Pipe pipe = pipeOrFail();
    fcntl(pipe.writeEnd.get(), F_SETFL, O_NONBLOCK);
    const std::string big(1 << 20, 'z');  // far more than a pipe holds
    std::string received;
    std::thread reader([&] {
        char chunk[65536];
        for (;;) {
            auto got = readSome(pipe.readEnd.get(), chunk, sizeof chunk);
            if (!got.ok() || got.value() == 0) return;
            received.append(chunk, got.value());
        }
    });
    const auto written = writeAll(pipe.writeEnd.get(), big);
    pipe.writeEnd.reset();
    reader.join();
    EXPECT_TRUE(written.ok());
    EXPECT_EQ(received.size(), big.size());
}

}  // namespace
}  // namespace pelko
