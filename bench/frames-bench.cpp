// frames benchmark: the wall time of `pelko-phone frames` on a 10-minute 1080p H.264 video with
// a key frame every 10 seconds, with 12 and 36 cells, against the ffmpeg command drawing the
// same exact pictures as one tiled sheet, and ffmpegthumbnailer taking one picture per instant.
// Every picture shows its own number in a band of 16 blocks, so each column also reports how
// many of its pictures are the exact one. Figures are printed, never asserted.
//
// Usage: frames-bench [runs] (default 3; the median run is reported). The video is made once
// with the ffmpeg command (several minutes) and kept in the system's temporary folder.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
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

/// Runs `argv` to its end; the wall time in seconds, or a negative value when it failed.
double timed(const std::vector<std::string>& argv, std::string* errors = nullptr) {
    ChildOptions options;
    options.nullStdin = true;
    const auto start = std::chrono::steady_clock::now();
    ChildProcess child(argv, options);
    child.readToEnd(std::chrono::minutes(10));
    const auto status = child.waitExit(std::chrono::minutes(10));
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (errors) *errors = child.stderrText();
    return status && status->exited && status->code == 0 ? seconds : -1;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? -1 : values[values.size() / 2];
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
    std::printf("%6s | %22s | %22s | %6s | %26s\n", "cells", "pelko-phone frames", "ffmpeg sheet",
                "ratio", "ffmpegthumbnailer");

    ScopedTempDir folder;
    for (int count : {12, 36}) {
        const std::vector<double> instants = samplingInstants(duration, {}, {}, count);
        const SheetGeometry geometry = sheetGeometry(count, 360, {1920, 1080}, 1920);
        std::vector<unsigned> expected;
        for (double instant : instants) expected.push_back(pictureAt(instant));

        std::vector<double> ours, reference, thumbnailer;
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
            double total = 0;
            thumbnailerExact = 0;
            for (double instant : instants) {
                const int second = static_cast<int>(instant);
                char time[32];
                std::snprintf(time, sizeof time, "%02d:%02d:%02d", second / 3600, second / 60 % 60,
                              second % 60);
                const std::string picture = (folder / "thumbnail.jpg").string();
                const double took =
                    timed({phone::testing::onPath("ffmpegthumbnailer"), "-i", video->string(), "-o",
                           picture, "-s", "360", "-t", time});
                total = took < 0 || total < 0 ? -1 : total + took;
                if (auto shot = phone::testing::decodeJPEG(readFile(picture))) {
                    thumbnailerExact +=
                        phone::testing::readCounter(*shot, 0, 0, shot->width, shot->height,
                                                    bandShare) == pictureAt(second);
                }
            }
            thumbnailer.push_back(total);
        }
        const double oursTime = median(ours), referenceTime = median(reference),
                     thumbnailerTime = median(thumbnailer);
        std::printf(
            "%6d | %7.2f s  %2d/%-2d exact | %7.2f s  %2d/%-2d exact | %6.2f | %7.2f s  "
            "%2d/%-2d exact\n",
            count, oursTime, oursExact, count, referenceTime, referenceExact, count,
            oursTime / referenceTime, thumbnailerTime, thumbnailerExact, count);
        std::fflush(stdout);
    }
    std::printf(
        "\nratio: pelko-phone's time over the ffmpeg command's. ffmpegthumbnailer takes "
        "whole seconds only and runs once per picture; its exact count is against the "
        "picture at the second it was given.\n");
    return 0;
}
