// pelko-phone benchmark: how many phone-screen pictures one core scales and encodes per second
// (1170 × 2532 to 590 × 1280, quality 0.7) against the libswscale baseline, the same work done
// by the ffmpeg command as a reference, each with its PSNR against a Lanczos downscale, and the
// latency from a picture's arrival to its last byte read by a fast reader. Figures are printed,
// never asserted; throughputs are medians of rounds. Usage: phone-bench [pictures] [rounds]
// (default 120 and 5).
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
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "clock.h"
#include "fd.h"
#include "framed-writer.h"
#include "jpeg-encoder.h"
#include "phone-streamer.h"
#include "picture-quality.h"
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

/// How many of the pictures are measured for quality (PSNR against a Lanczos downscale).
constexpr int qualityPictures = 8;

std::vector<bench::RGBPicture> references(const std::vector<std::vector<std::uint8_t>>& pictures) {
    std::vector<bench::RGBPicture> out;
    for (int i = 0; i < std::min<int>(qualityPictures, pictures.size()); ++i)
        out.push_back(bench::lanczosReference(pictures[i].data(), sourceWidth, sourceHeight,
                                              sourceWidth * 4, width, height));
    return out;
}

/// The mean PSNR of the JPEGs against the references of the same pictures.
double meanPSNR(const std::vector<std::vector<std::uint8_t>>& jpegs,
                const std::vector<bench::RGBPicture>& references) {
    double sum = 0;
    int count = 0;
    for (std::size_t i = 0; i < std::min(jpegs.size(), references.size()); ++i) {
        const auto decoded = bench::decodeJPEG(jpegs[i]);
        const auto value = decoded ? bench::psnr(*decoded, references[i]) : std::nullopt;
        if (!value) continue;
        sum += *value;
        ++count;
    }
    return count ? sum / count : 0;
}

/// One way to scale and encode: its name and `encode(picture)` giving the JPEG.
struct Encoder {
    const char* name;
    std::function<std::optional<std::vector<std::uint8_t>>(const std::vector<std::uint8_t>&)>
        encode;
    std::vector<double> rates;     // pictures per second of wall time, one per round
    std::vector<double> cpuRates;  // pictures per second of the thread's CPU time
    double bytes = 0;              // per JPEG
};

void benchEncoders(const std::vector<std::vector<std::uint8_t>>& pictures, int rounds,
                   const std::vector<bench::RGBPicture>& references) {
    pictures::JPEGEncoder encoder;
    bench::SwscaleEncoder baseline;
    std::vector<Encoder> encoders = {
        {"pelko-phone (libyuv + TurboJPEG q70 from planes, 4:2:0)",
         [&](const std::vector<std::uint8_t>& picture) {
             return encoder.encode({sourceWidth, sourceHeight, sourceWidth * 4,
                                    pictures::PixelOrder::bgra, picture.data()},
                                   width, height, quality);
         },
         {},
         {},
         0},
        {"baseline (libswscale bilinear + TurboJPEG q70 from planes, 4:2:0)",
         [&](const std::vector<std::uint8_t>& picture) {
             return baseline.encode(picture.data(), sourceWidth, sourceHeight, sourceWidth * 4,
                                    width, height, quality);
         },
         {},
         {},
         0},
    };
    // Rounds interleave the encoders, so that a change in the machine's load touches both.
    for (int round = 0; round < rounds; ++round) {
        for (auto& e : encoders) {
            std::size_t bytes = 0;
            const auto begin = std::chrono::steady_clock::now();
            const double cpuBegin = bench::threadCPUSeconds();
            for (const auto& picture : pictures) {
                auto jpeg = e.encode(picture);
                if (!jpeg) {
                    std::printf("%s: encoding failed\n", e.name);
                    return;
                }
                bytes += jpeg->size();
            }
            const double elapsed = Seconds(std::chrono::steady_clock::now() - begin).count();
            e.rates.push_back(pictures.size() / elapsed);
            e.cpuRates.push_back(pictures.size() / (bench::threadCPUSeconds() - cpuBegin));
            e.bytes = double(bytes) / pictures.size();
        }
    }
    for (auto& e : encoders) {
        std::vector<std::vector<std::uint8_t>> jpegs;
        for (std::size_t i = 0; i < references.size(); ++i) jpegs.push_back(*e.encode(pictures[i]));
        const auto [low, high] = std::minmax_element(e.rates.begin(), e.rates.end());
        std::printf(
            "%s: median %.1f pictures/s of wall time (%.1f to %.1f over %d rounds), "
            "%.1f per CPU-second (%.2f ms each), %.0f bytes per JPEG, PSNR %.2f dB\n",
            e.name, bench::median(e.rates), *low, *high, rounds, bench::median(e.cpuRates),
            1000 / bench::median(e.cpuRates), e.bytes, meanPSNR(jpegs, references));
    }
    std::printf("new pipeline / baseline: %.2fx (wall), %.2fx (CPU)\n",
                bench::median(encoders[0].rates) / bench::median(encoders[1].rates),
                bench::median(encoders[0].cpuRates) / bench::median(encoders[1].cpuRates));
}

void benchFfmpeg(const std::vector<std::vector<std::uint8_t>>& pictures, int rounds,
                 const std::vector<bench::RGBPicture>& references) {
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
    std::vector<double> rates, cpuRates;
    for (int round = 0; round < rounds; ++round) {
        const auto begin = std::chrono::steady_clock::now();
        const double cpuBegin = bench::childrenCPUSeconds();
        const int status = std::system(command.c_str());
        const double elapsed = Seconds(std::chrono::steady_clock::now() - begin).count();
        cpuRates.push_back(pictures.size() / (bench::childrenCPUSeconds() - cpuBegin));
        if (status != 0) {
            std::printf("ffmpeg reference: the ffmpeg command failed (status %d)\n", status);
            std::filesystem::remove_all(folder);
            return;
        }
        rates.push_back(pictures.size() / elapsed);
    }
    std::vector<std::uint8_t> stream(std::filesystem::file_size(out));
    std::ifstream(out, std::ios::binary)
        .read(reinterpret_cast<char*>(stream.data()), static_cast<std::streamsize>(stream.size()));
    const auto jpegs = bench::splitJPEGStream(stream);
    const auto [low, high] = std::minmax_element(rates.begin(), rates.end());
    std::printf(
        "ffmpeg reference (swscale bilinear + mjpeg -q:v 4, one thread, process start "
        "included): median %.1f pictures/s of wall time (%.1f to %.1f over %d runs), %.1f per "
        "CPU-second (%.2f ms each), %.0f bytes per JPEG, PSNR %.2f dB\n",
        bench::median(rates), *low, *high, rounds, bench::median(cpuRates),
        1000 / bench::median(cpuRates), double(stream.size()) / pictures.size(),
        meanPSNR(jpegs, references));
    std::filesystem::remove_all(folder);
}

/// Pictures offered at 30 per second through the real streamer and writer into a pipe that a
/// reader empties as fast as it can: time from the offer to the picture's last byte read.
double benchLatency(const std::vector<std::vector<std::uint8_t>>& pictures) {
    auto pipe = makePipe();
    if (!pipe) {
        std::printf("latency: %s\n", pipe.error().describe().c_str());
        return 0;
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
    if (latencies.empty()) return 0;
    std::sort(latencies.begin(), latencies.end());
    auto at = [&](double q) {
        return latencies[std::min(latencies.size() - 1, std::size_t(q * latencies.size()))];
    };
    std::printf(
        "latency, arrival to last byte read (%zu pictures at 30/s, %d skipped): median "
        "%.2f ms, 99th percentile %.2f ms, max %.2f ms\n",
        latencies.size(), skipped, at(0.5), at(0.99), latencies.back());
    return at(0.99);
}

}  // namespace

int main(int argc, char** argv) {
    const int count = argc > 1 ? std::max(1, std::atoi(argv[1])) : 120;
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    std::printf(
        "phone-bench: %d pictures of %dx%d, scaled to %dx%d at quality %.1f, %d rounds; "
        "load averages %s\n",
        count, sourceWidth, sourceHeight, width, height, quality, rounds,
        bench::loadAverages().c_str());
    const auto pictures = paintPictures(count);
    const auto lanczos = references(pictures);
    // The throughput figures are for one core; ffmpeg inherits the pinning. The latency runs
    // get every core back, as the program's capture, writer and reader threads would have.
    const cpu_set_t allCores = bench::pinToOneCore();
    benchEncoders(pictures, rounds, lanczos);
    benchFfmpeg(pictures, rounds, lanczos);
    sched_setaffinity(0, sizeof allCores, &allCores);
    std::vector<double> p99;
    for (int run = 0; run < 3; ++run) p99.push_back(benchLatency(pictures));
    std::printf("latency: median of the 99th percentiles over 3 runs %.2f ms\n",
                bench::median(p99));
    std::printf("load averages at the end: %s\n", bench::loadAverages().c_str());
}
