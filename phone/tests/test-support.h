// Helpers the phone's in-process tests share: pipes, an in-memory platform, JPEG sizes.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <turbojpeg.h>
#include <unistd.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "clock.h"
#include "fd.h"
#include "linux/ffmpeg-images.h"
#include "linux/ffmpeg-video.h"
#include "main-loop.h"
#include "platform/platform.h"
#include "sim/file-pasteboard.h"
#include "sim/sim-capture.h"

namespace pelko::phone::testing {

/// A pipe whose ends close themselves.
struct Pipe {
    int readEnd = -1;
    int writeEnd = -1;
    Pipe() {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) == 0) {
            readEnd = fds[0];
            writeEnd = fds[1];
        }
    }
    ~Pipe() {
        closeRead();
        closeWrite();
    }
    void closeRead() {
        if (readEnd >= 0) ::close(readEnd);
        readEnd = -1;
    }
    void closeWrite() {
        if (writeEnd >= 0) ::close(writeEnd);
        writeEnd = -1;
    }
    /// Everything in the pipe now, without waiting for more.
    std::string readAvailable() {
        std::string text;
        const int flags = ::fcntl(readEnd, F_GETFL);
        ::fcntl(readEnd, F_SETFL, flags | O_NONBLOCK);
        char chunk[65536];
        // An interrupted read is tried again rather than taken for the end.
        const Wait now{.deadline = std::chrono::steady_clock::now(), .wakeFd = -1};
        for (;;) {
            auto got = readSome(readEnd, chunk, sizeof chunk, now);
            if (!got || got.value() == 0) break;
            text.append(chunk, got.value());
        }
        ::fcntl(readEnd, F_SETFL, flags);
        return text;
    }
};

/// Thrown by the test platform's exit, so that a command's run ends the test's call.
struct ProcessExit {
    int status;
};

/// A platform of simulated devices on a virtual clock, with pipes for standard output and
/// error, whose exit throws `ProcessExit`. Videos and pictures are read with FFmpeg; the
/// pasteboard is a folder that is only made when something is copied.
struct TestPlatform {
    explicit TestPlatform(const JSON& scene)
        : sceneValue(sim::parseScene(scene)),
          capture(sceneValue, clock),
          usb(sceneValue.wiredIphones.value_or(std::vector<std::string>{})),
          pasteboard(std::filesystem::temp_directory_path() / "pelko-phone-test-pasteboard"),
          mainLoop(clock),
          platform{capture,
                   usb,
                   video,
                   images,
                   pasteboard,
                   clock,
                   mainLoop,
                   -1,
                   output.writeEnd,
                   error.writeEnd,
                   [](int status) { throw ProcessExit{status}; }} {}

    VirtualClock clock;
    sim::Scene sceneValue;
    sim::SimCaptureSystem capture;
    sim::FixedUsbDevices usb;
    linux_backend::FFmpegVideoFiles video;
    linux_backend::FFmpegImageCodec images;
    sim::FilePasteboard pasteboard;
    MainLoop mainLoop;
    Pipe output;
    Pipe error;
    Platform platform;
};

/// One frame of the stream as the host reads it.
struct Frame {
    int kind;
    std::string payload;
};

/// The frames of a captured output, which must end with a whole frame.
inline std::vector<Frame> parseFrames(const std::string& bytes) {
    std::vector<Frame> frames;
    std::size_t at = 0;
    while (at + 5 <= bytes.size()) {
        const auto* b = reinterpret_cast<const unsigned char*>(bytes.data() + at);
        const std::size_t length = (std::size_t{b[0]} << 24) | (b[1] << 16) | (b[2] << 8) | b[3];
        if (at + 4 + length > bytes.size()) break;
        frames.push_back({b[4], bytes.substr(at + 5, length - 1)});
        at += 4 + length;
    }
    EXPECT_EQ(at, bytes.size()) << "the output ends with a whole frame";
    return frames;
}

/// Width and height of a JPEG, or nothing when it is not one.
inline std::optional<std::pair<int, int>> jpegSize(const std::string& jpeg) {
    tjhandle handle = tjInitDecompress();
    int width = 0, height = 0, subsampling = 0, colorspace = 0;
    const int failed =
        tjDecompressHeader3(handle, reinterpret_cast<const unsigned char*>(jpeg.data()),
                            jpeg.size(), &width, &height, &subsampling, &colorspace);
    tjDestroy(handle);
    if (failed) return {};
    return std::pair{width, height};
}

}  // namespace pelko::phone::testing
