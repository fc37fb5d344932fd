// Window picture benchmark: a 2880 × 1800-point window drawn once by the simulated desktop, then
// scaled to 1440 pixels, encoded as JPEG at 0.72 and turned into Base64 (the drawing excluded):
// in process, with the encoder kept and with a new one per picture as the method has it,
// against the libswscale baseline; and as a one-shot process reading the same pixels from a file
// against ImageMagick doing the same scale and encode from that file. Each with its PSNR against
// a Lanczos downscale. One core; figures are medians of rounds, printed, never asserted.
//
//   screenshot-bench [pictures per round] [rounds] (default 60 and 7)
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "base64.h"
#include "picture-quality.h"
#include "screenshot.h"
#include "sim/sim-desktop.h"
#include "swscale-encoder.h"

#ifndef PELKO_PICTURE_ONESHOT
#error "the benchmark needs the one-shot program"
#endif

using namespace pelko;
using namespace pelko::computer;
using Seconds = std::chrono::duration<double>;

namespace {

constexpr int pictureWidth = 1440, pictureHeight = 900;

// A big editor window: a toolbar, a sidebar of files, a long document, a panel of settings.
JSON benchScene() {
    JSON rows = JSON::array();
    for (int i = 0; i < 60; ++i)
        rows.push_back(
            {{"role", "AXRow"},
             {"selected", i == 3},
             {"children",
              {{{"role", "AXStaticText"},
                {"value", "Chapter " + std::to_string(i + 1) + " — notes and drafts.md"}}}}});
    std::string document;
    for (int i = 0; i < 70; ++i)
        document += "Paragraph " + std::to_string(i + 1) +
                    ": the agent reads the window as a picture when the outline cannot show "
                    "charts, canvases or layout, then clicks at the points it sees.\n";
    JSON settings = JSON::array();
    for (int i = 0; i < 24; ++i) {
        const double y = 140 + i * 60;
        settings.push_back(
            {{"role", i % 3 == 2 ? "AXPopUpButton" : "AXCheckBox"},
             {"title", "Setting number " + std::to_string(i + 1)},
             {"value", i % 3 == 2 ? JSON("Every " + std::to_string(i) + " minutes") : JSON(i % 2)},
             {"frame", {2320, y, 480, 28}}});
    }
    JSON window = {
        {"role", "AXWindow"},
        {"title", "Manuscript — Chapter 4"},
        {"frame", {0, 0, 2880, 1800}},
        {"children",
         {{{"role", "AXToolbar"},
           {"frame", {0, 0, 2880, 80}},
           {"children",
            {{{"role", "AXButton"}, {"title", "Bold"}, {"frame", {700, 30, 90, 32}}},
             {{"role", "AXButton"}, {"title", "Italic"}, {"frame", {800, 30, 90, 32}}},
             {{"role", "AXButton"}, {"title", "Share…"}, {"frame", {900, 30, 120, 32}}},
             {{"role", "AXTextField"},
              {"subrole", "AXSearchField"},
              {"placeholder", "Search the manuscript"},
              {"frame", {2400, 30, 420, 32}}}}}},
          {{"role", "AXScrollArea"},
           {"frame", {0, 80, 560, 1720}},
           {"children",
            {{{"role", "AXOutline"}, {"frame", {0, 80, 560, 1720}}, {"children", rows}}}}},
          {{"role", "AXTextArea"}, {"value", document}, {"frame", {560, 80, 1700, 1720}}},
          {{"role", "AXGroup"}, {"frame", {2260, 80, 620, 1720}}, {"children", settings}}}}};
    return {{"apps", {{{"name", "Writer"}, {"pid", 10}, {"windows", {window}}}}}};
}

WindowImage renderWindow() {
    VirtualClock clock;
    sim::SimDesktop desktop(clock, benchScene());
    std::optional<WindowImage> image;
    Signal done;
    desktop.shareableContent({}, [&](auto windows, auto) {
        desktop.captureWindow(windows->front(), pictureWidth, pictureHeight,
                              [&](std::optional<WindowImage> captured, auto) {
                                  image = std::move(captured);
                                  done.raise();
                              });
    });
    clock.wait(done, seconds(1));
    return image.value_or(WindowImage{});
}

struct Way {
    const char* name;
    std::function<std::optional<std::string>()> run;
    std::vector<double> rates;     // pictures per second of wall time
    std::vector<double> cpuRates;  // pictures per second of the thread's CPU time
};

void benchInProcess(const WindowImage& image, int count, int rounds,
                    const bench::RGBPicture& reference) {
    pictures::JPEGEncoder kept, fast;
    bench::SwscaleEncoder baseline;
    std::vector<Way> ways = {
        {"Lanczos-3 brightness, box colour + TurboJPEG + Base64, encoder kept",
         [&] { return pictureData(kept, image, pictureWidth, pictureHeight); },
         {},
         {}},
        {"the same with a new encoder per picture (as the method)",
         [&] {
             pictures::JPEGEncoder fresh;
             return pictureData(fresh, image, pictureWidth, pictureHeight);
         },
         {},
         {}},
        {"the stream's fast shrinking (libyuv box) + TurboJPEG + Base64, encoder kept",
         [&]() -> std::optional<std::string> {
             const pictures::Pixels pixels{image.width, image.height, image.bytesPerRow,
                                           pictures::PixelOrder::bgra, image.pixels.data()};
             auto jpeg = fast.encode(pixels, pictureWidth, pictureHeight, screenshotQuality,
                                     pictures::Shrinking::fast);
             if (!jpeg) return std::nullopt;
             return pictures::base64(*jpeg);
         },
         {},
         {}},
        {"baseline: libswscale bilinear + TurboJPEG + Base64",
         [&]() -> std::optional<std::string> {
             auto jpeg =
                 baseline.encode(image.pixels.data(), image.width, image.height, image.bytesPerRow,
                                 pictureWidth, pictureHeight, screenshotQuality);
             if (!jpeg) return std::nullopt;
             return pictures::base64(*jpeg);
         },
         {},
         {}},
    };
    for (int round = 0; round < rounds; ++round) {
        for (auto& way : ways) {
            const auto begin = std::chrono::steady_clock::now();
            const double cpuBegin = bench::threadCPUSeconds();
            for (int i = 0; i < count; ++i) {
                if (!way.run()) {
                    std::printf("%s: failed\n", way.name);
                    return;
                }
            }
            way.rates.push_back(count / Seconds(std::chrono::steady_clock::now() - begin).count());
            way.cpuRates.push_back(count / (bench::threadCPUSeconds() - cpuBegin));
        }
    }
    for (auto& way : ways) {
        const auto text = way.run();
        const auto jpeg = pictures::decodeBase64(*text);
        const auto decoded = jpeg ? bench::decodeJPEG(*jpeg) : std::nullopt;
        const auto quality = decoded ? bench::psnr(*decoded, reference) : std::nullopt;
        const auto [low, high] = std::minmax_element(way.rates.begin(), way.rates.end());
        std::printf(
            "  %s: median %.1f pictures/s of wall time (%.1f to %.1f), %.1f per "
            "CPU-second (%.2f ms each), %zu characters, PSNR %.2f dB\n",
            way.name, bench::median(way.rates), *low, *high, bench::median(way.cpuRates),
            1000 / bench::median(way.cpuRates), text->size(), quality.value_or(0));
    }
}

struct Timing {
    double wall = -1;  // negative: the command failed
    double cpu = 0;    // of the command's processes
};

/// Runs a shell command and times it.
Timing timed(const std::string& command) {
    const auto begin = std::chrono::steady_clock::now();
    const double cpuBegin = bench::childrenCPUSeconds();
    const int status = std::system(command.c_str());
    const double elapsed = Seconds(std::chrono::steady_clock::now() - begin).count();
    return {status == 0 ? elapsed : -1, bench::childrenCPUSeconds() - cpuBegin};
}

std::vector<std::uint8_t> readBytes(const std::filesystem::path& path) {
    std::vector<std::uint8_t> bytes(std::filesystem::file_size(path));
    std::ifstream(path, std::ios::binary)
        .read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return bytes;
}

void benchOneShot(const WindowImage& image, int rounds, const bench::RGBPicture& reference) {
    const auto folder = std::filesystem::temp_directory_path() /
                        ("pelko-screenshot-bench-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    const auto ppm = folder / "window.ppm", ours = folder / "ours.b64", theirs = folder / "im.jpg";
    {
        std::ofstream file(ppm, std::ios::binary);
        file << "P6\n" << image.width << " " << image.height << "\n255\n";
        std::vector<char> row(static_cast<std::size_t>(image.width) * 3);
        for (int y = 0; y < image.height; ++y) {
            const std::uint8_t* p = image.pixels.data() + std::size_t(y) * image.bytesPerRow;
            for (int x = 0; x < image.width; ++x) {
                row[x * 3] = static_cast<char>(p[x * 4 + 2]);
                row[x * 3 + 1] = static_cast<char>(p[x * 4 + 1]);
                row[x * 3 + 2] = static_cast<char>(p[x * 4]);
            }
            file.write(row.data(), static_cast<std::streamsize>(row.size()));
        }
    }
    const std::string oursCommand = std::string(PELKO_PICTURE_ONESHOT) + " '" + ppm.string() +
                                    "' " + std::to_string(pictureWidth) + " > '" + ours.string() +
                                    "'";
    const std::string imageMagickCommand =
        "convert-im6.q16 '" + ppm.string() + "' -resize " + std::to_string(pictureWidth) + "x" +
        std::to_string(pictureHeight) + " -quality 72 '" + theirs.string() + "'";
    if (timed("command -v convert-im6.q16 > /dev/null").wall < 0) {
        std::printf("  ImageMagick (convert-im6.q16) is not installed: no comparison\n");
        std::filesystem::remove_all(folder);
        return;
    }
    // One run of each first, so that both find the file and their libraries in memory.
    if (timed(oursCommand).wall < 0 || timed(imageMagickCommand).wall < 0) {
        std::printf("  a one-shot command failed\n");
        std::filesystem::remove_all(folder);
        return;
    }
    std::vector<double> oursTimes, theirTimes, oursCPU, theirCPU;
    for (int round = 0; round < rounds; ++round) {
        const Timing ourRun = timed(oursCommand), theirRun = timed(imageMagickCommand);
        oursTimes.push_back(ourRun.wall);
        oursCPU.push_back(ourRun.cpu);
        theirTimes.push_back(theirRun.wall);
        theirCPU.push_back(theirRun.cpu);
    }
    const auto oursText = readBytes(ours);
    const auto oursJPEG =
        pictures::decodeBase64({reinterpret_cast<const char*>(oursText.data()), oursText.size()});
    const auto oursPicture = oursJPEG ? bench::decodeJPEG(*oursJPEG) : std::nullopt;
    const auto theirPicture = bench::decodeJPEG(readBytes(theirs));
    const double oursMedian = bench::median(oursTimes), theirMedian = bench::median(theirTimes);
    std::printf(
        "  pelko-picture-oneshot (read PPM, scale, JPEG, Base64 to a file): median %.1f ms "
        "wall (%.1f to %.1f), %.1f ms CPU, PSNR %.2f dB\n",
        1000 * oursMedian, 1000 * *std::min_element(oursTimes.begin(), oursTimes.end()),
        1000 * *std::max_element(oursTimes.begin(), oursTimes.end()), 1000 * bench::median(oursCPU),
        oursPicture ? bench::psnr(*oursPicture, reference).value_or(0) : 0.0);
    std::printf(
        "  convert-im6.q16 -resize %dx%d -quality 72 (read PPM, scale, JPEG to a file): "
        "median %.1f ms wall (%.1f to %.1f), %.1f ms CPU, PSNR %.2f dB\n",
        pictureWidth, pictureHeight, 1000 * theirMedian,
        1000 * *std::min_element(theirTimes.begin(), theirTimes.end()),
        1000 * *std::max_element(theirTimes.begin(), theirTimes.end()),
        1000 * bench::median(theirCPU),
        theirPicture ? bench::psnr(*theirPicture, reference).value_or(0) : 0.0);
    std::printf("  ours / ImageMagick: %.3f of the wall time, %.3f of the CPU time\n",
                oursMedian / theirMedian, bench::median(oursCPU) / bench::median(theirCPU));
    std::filesystem::remove_all(folder);
}

}  // namespace

int main(int argc, char** argv) {
    const int count = argc > 1 ? std::max(1, std::atoi(argv[1])) : 60;
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 7;
    std::printf(
        "screenshot-bench: a 2880x1800-point window to %dx%d at quality %.2f; load "
        "averages %s\n",
        pictureWidth, pictureHeight, screenshotQuality, bench::loadAverages().c_str());
    const auto begin = std::chrono::steady_clock::now();
    const WindowImage image = renderWindow();
    if (image.width != 2880 || image.height != 1800) {
        std::printf("the window was not drawn\n");
        return 1;
    }
    std::printf("drawn by the simulated desktop in %.0f ms (not counted)\n",
                1000 * Seconds(std::chrono::steady_clock::now() - begin).count());
    const auto reference = bench::lanczosReference(image.pixels.data(), image.width, image.height,
                                                   image.bytesPerRow, pictureWidth, pictureHeight);
    // One core for everything below; the one-shot processes inherit it.
    bench::pinToOneCore();
    std::printf("in process, %d pictures a round, %d rounds:\n", count, rounds);
    benchInProcess(image, count, rounds, reference);
    std::printf("one-shot processes, %d runs each, interleaved:\n", rounds * 2 + 1);
    benchOneShot(image, rounds * 2 + 1, reference);
    std::printf("load averages at the end: %s\n", bench::loadAverages().c_str());
}
