// frames benchmark: the wall time of `pelko-phone frames` on a 10-minute 1080p H.264 video with
// a key frame every 10 seconds, with 12 and 36 cells, against the ffmpeg command drawing the
// same exact pictures as one tiled sheet, and ffmpegthumbnailer taking one picture per instant.
// Every picture shows its own number in a band of 16 blocks, so each column also reports how
// many of its pictures are the exact one. Figures are printed, never asserted.
//
// Usage: frames-bench [runs] (default 3; the median run is reported). The video is made once
// with the ffmpeg command (several minutes) and kept in the system's temporary folder.
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "contact-sheet.h"
#include "tests/video-support.h"

using namespace pelko;
using namespace pelko::phone;
using pelko::testing::ChildOptions;
using pelko::testing::ChildProcess;
using pelko::testing::readFile;
using pelko::testing::ScopedTempDir;

namespace {

constexpr int fps = 30;
constexpr double duration = 600;
constexpr int band = 120;  // rows of the number band at the bottom of a 1080-row picture
constexpr double bandShare = band / 1080.0;

/// The number of the picture shown at `instant`.
unsigned pictureAt(double instant) {
    return static_cast<unsigned>(std::floor(instant * fps + 1e-9));
}

/// The wall time and the processor time (user and system, of the process and everything it
/// started) of one run, in seconds; negative when the run failed.
struct Timing {
    double wall = -1;
    double processor = -1;
};

double childProcessorSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_CHILDREN, &usage);
    auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

/// Runs `argv` to its end.
Timing timed(const std::vector<std::string>& argv) {
    ChildOptions options;
    options.nullStdin = true;
    const double processorBefore = childProcessorSeconds();
    const auto start = std::chrono::steady_clock::now();
    std::optional<pelko::testing::ExitStatus> status;
    {
        ChildProcess child(argv, options);
        child.readToEnd(std::chrono::minutes(10));
        status = child.waitExit(std::chrono::minutes(10));
    }
    Timing timing;
    if (!status || !status->exited || status->code != 0) return timing;
    timing.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    timing.processor = childProcessorSeconds() - processorBefore;
    return timing;
}

/// The sum of two timings (negative when either failed).
Timing operator+(Timing a, Timing b) {
    if (a.wall < 0 || b.wall < 0) return {};
    return {a.wall + b.wall, a.processor + b.processor};
}

/// The run with the median wall time.
Timing median(std::vector<Timing> runs) {
    std::sort(runs.begin(), runs.end(),
              [](const Timing& a, const Timing& b) { return a.wall < b.wall; });
    return runs.empty() ? Timing{} : runs[runs.size() / 2];
}

/// How many cells of a sheet laid out like ours show the picture `expected[i]`.
int exactCells(const std::string& jpeg, const SheetGeometry& geometry,
               const std::vector<unsigned>& expected) {
    auto sheet = phone::testing::decodeJPEG(jpeg);
    if (!sheet || sheet->width != geometry.width || sheet->height != geometry.height) return -1;
    int exact = 0;
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const CellRect cell = geometry.cell(static_cast<std::int64_t>(i));
        exact +=
            phone::testing::readCounter(*sheet, static_cast<int>(cell.x), static_cast<int>(cell.y),
                                        static_cast<int>(cell.width), static_cast<int>(cell.height),
                                        bandShare) == expected[i];
    }
    return exact;
}

/// The ffmpeg command that draws the same sheet: each input opened at the exact picture's time
/// (accurate seeking decodes from the key frame before it) and limited to that one picture,
/// scaled to the cell, and all tiled with the same gaps.
std::vector<std::string> ffmpegSheetCommand(const std::string& video,
                                            const std::vector<unsigned>& pictures,
                                            const SheetGeometry& geometry,
                                            const std::string& output) {
    std::vector<std::string> argv = {phone::testing::onPath("ffmpeg"), "-nostdin", "-v", "error",
                                     "-y"};
    std::string scaled, labels;
    char text[160];
    for (std::size_t i = 0; i < pictures.size(); ++i) {
        // A quarter of a picture before it: the first picture at or after that time is it.
        std::snprintf(text, sizeof text, "%.6f", (pictures[i] - 0.25) / fps);
        argv.insert(argv.end(), {"-ss", text, "-t", "0.03", "-i", video});
        std::snprintf(text, sizeof text, "[%zu:v]scale=%lld:%lld,setsar=1[c%zu];", i,
                      static_cast<long long>(geometry.cellWidth),
                      static_cast<long long>(geometry.cellHeight), i);
        scaled += text;
        std::snprintf(text, sizeof text, "[c%zu]", i);
        labels += text;
    }
    std::snprintf(text, sizeof text,
                  "concat=n=%zu:v=1:a=0,tile=%lldx%lld:margin=6:padding=6:color=0x121214",
                  pictures.size(), static_cast<long long>(geometry.columns),
                  static_cast<long long>(geometry.rows));
    const std::string graph = scaled + labels + text;
    argv.insert(argv.end(), {"-filter_complex", graph, "-frames:v", "1", "-q:v", "3", output});
    return argv;
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    std::printf(
        "frames-bench: a 10-minute 1920x1080 H.264 video at %d pictures per second, a key "
        "frame every 10 s\n",
        fps);
    std::fflush(stdout);
    std::string messages;
    const auto video = phone::testing::cachedMedia(
        "frames-bench-600s-1080p30-key10s.mp4", [&](const std::filesystem::path& into) {
            std::printf("making it once (several minutes) ...\n");
            std::fflush(stdout);
            return phone::testing::runFFmpeg(
                {"-f", "lavfi", "-i",
                 phone::testing::counterVideoGraph(1920, 1080, fps, duration, band), "-c:v",
                 "libx264", "-preset", "veryfast", "-g", "300", "-keyint_min", "300",
                 "-sc_threshold", "0", into.string()},
                &messages, std::chrono::hours(2));
        });
    if (!video) {
        std::printf("the video could not be made: %s\n", messages.c_str());
        return 1;
    }
    std::printf("video: %s; %d runs each, the median shown\n\n", video->c_str(), runs);
    std::printf("%6s | %27s | %27s | %11s | %27s\n", "cells", "pelko-phone frames", "ffmpeg sheet",
                "ratio", "ffmpegthumbnailer");

    ScopedTempDir folder;
    for (int count : {12, 36}) {
        const std::vector<double> instants = samplingInstants(duration, {}, {}, count);
        const SheetGeometry geometry = sheetGeometry(count, 360, {1920, 1080}, 1920);
        std::vector<unsigned> expected;
        for (double instant : instants) expected.push_back(pictureAt(instant));

        std::vector<Timing> ours, reference, thumbnailer;
        int oursExact = -1, referenceExact = -1, thumbnailerExact = 0;
        const std::string oursPath = (folder / "ours.jpg").string();
        const std::string referencePath = (folder / "ffmpeg.jpg").string();
        for (int run = 0; run < runs; ++run) {
            ours.push_back(timed({PELKO_PHONE_BINARY, "frames", video->string(), oursPath,
                                  "--count", std::to_string(count)}));
            oursExact = exactCells(readFile(oursPath), geometry, expected);
            reference.push_back(
                timed(ffmpegSheetCommand(video->string(), expected, geometry, referencePath)));
            referenceExact = exactCells(readFile(referencePath), geometry, expected);

            // One run per instant; it takes whole seconds only, so the picture expected from it
            // is the one at the whole second it was given.
            Timing total{0, 0};
            thumbnailerExact = 0;
            for (double instant : instants) {
                const int second = static_cast<int>(instant);
                char time[32];
                std::snprintf(time, sizeof time, "%02d:%02d:%02d", second / 3600, second / 60 % 60,
                              second % 60);
                const std::string picture = (folder / "thumbnail.jpg").string();
                total = total + timed({phone::testing::onPath("ffmpegthumbnailer"), "-i",
                                       video->string(), "-o", picture, "-s", "360", "-t", time});
                if (auto shot = phone::testing::decodeJPEG(readFile(picture))) {
                    thumbnailerExact +=
                        phone::testing::readCounter(*shot, 0, 0, shot->width, shot->height,
                                                    bandShare) == pictureAt(second);
                }
            }
            thumbnailer.push_back(total);
        }
        const Timing a = median(ours), b = median(reference), c = median(thumbnailer);
        std::printf(
            "%6d | %6.2f s %5.2f cpu %2d/%-2d | %6.2f s %5.2f cpu %2d/%-2d | %5.2f %5.2f | "
            "%6.2f s %5.2f cpu %2d/%-2d\n",
            count, a.wall, a.processor, oursExact, count, b.wall, b.processor, referenceExact,
            count, a.wall / b.wall, a.processor / b.processor, c.wall, c.processor,
            thumbnailerExact, count);
        std::fflush(stdout);
    }
    std::printf(
        "\nEach column: wall time, processor time (user and system), pictures that are the exact "
        "one. ratio: pelko-phone over the ffmpeg command, wall and processor. ffmpegthumbnailer "
        "takes whole seconds only and runs once per picture; its exact count is against the "
        "picture at the second it was given.\n");
    return 0;
}
