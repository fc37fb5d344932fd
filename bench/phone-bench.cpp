// pelko-phone benchmark: how many phone-screen pictures one core scales and encodes per second
// (1170 × 2532 to 590 × 1280, quality 0.7), the same work done by the ffmpeg command as a
// reference, and the latency from a picture's arrival to its last byte read by a fast reader.
// Figures are printed, never asserted. Usage: phone-bench [pictures] (default 120).
#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "clock.h"
#include "fd.h"
#include "framed-writer.h"
#include "jpeg-encoder.h"
#include "phone-streamer.h"
#include "sim/phone-scene.h"
#include "sim/sim-capture.h"
#include "sim/test-pattern.h"
#include "swscale-encoder.h"

using namespace pelko;
using namespace pelko::phone;
using Seconds = std::chrono::duration<double>;

namespace {

constexpr int sourceWidth = 1170, sourceHeight = 2532, width = 590, height = 1280;
constexpr double quality = 0.7;

std::vector<std::vector<std::uint8_t>> paintPictures(int count) {
    sim::PhoneScreenPainter painter;
    std::vector<std::vector<std::uint8_t>> pictures(count);
    for (int i = 0; i < count; ++i) painter.paint(pictures[i], sourceWidth, sourceHeight, i);
    return pictures;
}

/// Runs the calling thread (and the processes it starts) on one core; returns the former set.
cpu_set_t pinToOneCore() {
    cpu_set_t former, set;
    sched_getaffinity(0, sizeof former, &former);
    CPU_ZERO(&set);
    CPU_SET(0, &set);
    sched_setaffinity(0, sizeof set, &set);
    return former;
}

/// Pictures per second of one way to scale and encode, `encode(picture)` giving the JPEG.
template <typename Encode>
void benchEncoder(const char* name, const std::vector<std::vector<std::uint8_t>>& pictures,
                  Encode encode) {
    std::size_t bytes = 0;
    const auto begin = std::chrono::steady_clock::now();
    for (const auto& picture : pictures) {
        auto jpeg = encode(picture);
        if (!jpeg) {
            std::printf("%s: encoding failed\n", name);
            return;
        }
        bytes += jpeg->size();
    }
    const double elapsed = Seconds(std::chrono::steady_clock::now() - begin).count();
    std::printf("%s: %.1f pictures/s, %.2f ms each, %.0f bytes per JPEG\n", name,
                pictures.size() / elapsed, 1000 * elapsed / pictures.size(),
                double(bytes) / pictures.size());
}

void benchEncoders(const std::vector<std::vector<std::uint8_t>>& pictures) {
    pictures::JPEGEncoder encoder;
    benchEncoder("pelko-phone (libyuv bilinear + TurboJPEG q70 from planes, 4:2:0)", pictures,
                 [&](const std::vector<std::uint8_t>& picture) {
                     return encoder.encode({sourceWidth, sourceHeight, sourceWidth * 4,
                                            pictures::PixelOrder::bgra, picture.data()},
                                           width, height, quality);
                 });
    bench::SwscaleEncoder baseline;
    benchEncoder("baseline (libswscale bilinear + TurboJPEG q70 from planes, 4:2:0)", pictures,
                 [&](const std::vector<std::uint8_t>& picture) {
                     return baseline.encode(picture.data(), sourceWidth, sourceHeight,
                                            sourceWidth * 4, width, height, quality);
                 });
}

void benchFfmpeg(const std::vector<std::vector<std::uint8_t>>& pictures) {
    const auto folder = std::filesystem::temp_directory_path() /
                        ("pelko-phone-bench-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    const auto raw = folder / "screen.bgra", out = folder / "out.mjpeg";
    {
        std::ofstream file(raw, std::ios::binary);
        for (const auto& picture : pictures) {
            file.write(reinterpret_cast<const char*>(picture.data()), picture.size());
        }
    }
    // Read the raw file once beforehand so that both sides start from memory.
    std::system(("cat '" + raw.string() + "' > /dev/null").c_str());
    const std::string command =
        "ffmpeg -nostdin -v error -threads 1 -filter_threads 1 -f rawvideo -pix_fmt bgra -s " +
        std::to_string(sourceWidth) + "x" + std::to_string(sourceHeight) + " -i '" + raw.string() +
        "' -vf scale=" + std::to_string(width) + ":" + std::to_string(height) +
        ":flags=bilinear,format=yuvj420p -c:v mjpeg -q:v 4 -threads 1 -f image2pipe -y '" +
        out.string() + "'";
    const auto begin = std::chrono::steady_clock::now();
    const int status = std::system(command.c_str());
    const double elapsed = Seconds(std::chrono::steady_clock::now() - begin).count();
    if (status != 0) {
        std::printf("ffmpeg reference: the ffmpeg command failed (status %d)\n", status);
    } else {
        const double bytes = double(std::filesystem::file_size(out)) / pictures.size();
        std::printf(
            "ffmpeg reference (swscale bilinear + mjpeg -q:v 4, one thread, process "
            "start included): %.1f pictures/s, %.2f ms each, %.0f bytes per JPEG\n",
            pictures.size() / elapsed, 1000 * elapsed / pictures.size(), bytes);
    }
    std::filesystem::remove_all(folder);
}

/// Pictures offered at 30 per second through the real streamer and writer into a pipe that a
/// reader empties as fast as it can: time from the offer to the picture's last byte read.
void benchLatency(const std::vector<std::vector<std::uint8_t>>& pictures) {
    auto pipe = makePipe();
    if (!pipe) {
        std::printf("latency: %s\n", pipe.error().describe().c_str());
        return;
    }
    Pipe ends = std::move(pipe).take();
    FileDescriptor readEnd = std::move(ends.readEnd);
    FileDescriptor writeEnd = std::move(ends.writeEnd);
    RealClock clock;
    sim::SimCaptureSystem capture(
        sim::parseScene(JSON::parse(R"({"devices": [{"uniqueId": "P"}]})")), clock);
    auto writer = std::make_shared<FramedWriter>(writeEnd.get());
    PhoneStreamer streamer(capture, "P", writer, {}, clock, 2);

    std::vector<std::chrono::steady_clock::time_point> offered, received;
    offered.reserve(pictures.size());
    received.reserve(pictures.size());
    std::thread reader([&] {
        std::vector<char> buffer(1 << 20);
        auto readWhole = [&](std::size_t count) {
            auto got = readExactly(readEnd.get(), buffer.data(), count);
            return got && got.value() == count;
        };
        while (readWhole(5)) {
            const auto* b = reinterpret_cast<const unsigned char*>(buffer.data());
            const std::size_t length =
                (std::size_t{b[0]} << 24) | (b[1] << 16) | (b[2] << 8) | b[3];
            const int kind = b[4];
            if (buffer.size() < length) buffer.resize(length);
            if (!readWhole(length - 1)) return;
            if (kind == 1) received.push_back(std::chrono::steady_clock::now());
        }
    });

    const auto period = std::chrono::microseconds(33'333);
    auto next = std::chrono::steady_clock::now();
    int skipped = 0;
    for (const auto& picture : pictures) {
        std::this_thread::sleep_until(next);
        next += period;
        SampleBuffer sample;
        sample.pixelBuffer =
            PixelBuffer{sourceWidth, sourceHeight, sourceWidth * 4, picture.data()};
        const auto before = streamer.encodeAttempts();
        const auto at = std::chrono::steady_clock::now();
        streamer.captureOutput(sample);
        if (streamer.encodeAttempts() > before) {
            offered.push_back(at);
        } else {
            ++skipped;
        }
    }
    writer->drain();
    writeEnd.reset();
    reader.join();

    std::vector<double> latencies;
    for (std::size_t i = 0; i < std::min(offered.size(), received.size()); ++i) {
        latencies.push_back(1000 * Seconds(received[i] - offered[i]).count());
    }
    if (latencies.empty()) return;
    std::sort(latencies.begin(), latencies.end());
    auto at = [&](double q) {
        return latencies[std::min(latencies.size() - 1, std::size_t(q * latencies.size()))];
    };
    std::printf(
        "latency, arrival to last byte read (%zu pictures at 30/s, %d skipped): median "
        "%.2f ms, 99th percentile %.2f ms, max %.2f ms\n",
        latencies.size(), skipped, at(0.5), at(0.99), latencies.back());
}

}  // namespace

int main(int argc, char** argv) {
    const int count = argc > 1 ? std::max(1, std::atoi(argv[1])) : 120;
    std::printf("phone-bench: %d pictures of %dx%d, scaled to %dx%d at quality %.1f\n", count,
                sourceWidth, sourceHeight, width, height, quality);
    const auto pictures = paintPictures(count);
    // The throughput figures are for one core; ffmpeg inherits the pinning. The latency run
    // gets every core back, as the program's capture, writer and reader threads would have.
    const cpu_set_t allCores = pinToOneCore();
    benchEncoders(pictures);
    benchFfmpeg(pictures);
    sched_setaffinity(0, sizeof allCores, &allCores);
    benchLatency(pictures);
}
