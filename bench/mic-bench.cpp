// pelko-mic benchmark: time from start to the "recording" line and to the first level line,
// against the ffmpeg command starting the same capture and encoding (16 kHz mono AAC at
// 32 kbit/s into .m4a) from the same generated test input, and the CPU time each spends per
// second of recording. Figures are printed, never asserted.
// Usage: mic-bench [rounds] [seconds] (default 5 rounds of 4 seconds).
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "child-process.h"

using pelko::testing::ChildOptions;
using pelko::testing::ChildProcess;
using pelko::testing::ScopedTempDir;
using SteadyClock = std::chrono::steady_clock;

namespace {

const std::string toneSource = "sine=frequency=440:sample_rate=48000";

double millisecondsSince(SteadyClock::time_point start) {
    return std::chrono::duration<double, std::milli>(SteadyClock::now() - start).count();
}

/// CPU seconds a running process has used so far, all its threads together, from the
/// scheduler's nanosecond counts (the tick counts of /proc/PID/stat are too coarse here).
double cpuSeconds(pid_t pid) {
    double total = 0;
    std::error_code error;
    const std::filesystem::path tasks = "/proc/" + std::to_string(pid) + "/task";
    for (const auto& task : std::filesystem::directory_iterator(tasks, error)) {
        std::ifstream file(task.path() / "schedstat");
        double nanoseconds = 0;
        if (file >> nanoseconds) total += nanoseconds / 1e9;
    }
    return total;
}

struct Round {
    double started = 0;     ///< ms to "recording" (ffmpeg: its file's header written)
    double firstLevel = 0;  ///< ms to the first level line (ffmpeg: its first progress report)
    double cpuPerSecond = 0;
};

/// CPU seconds per second of recording, measured from 1 s after the start to `seconds`.
double steadyCPU(pid_t pid, SteadyClock::time_point start, double seconds) {
    std::this_thread::sleep_until(start + std::chrono::seconds(1));
    const double cpuBefore = cpuSeconds(pid);
    const auto before = SteadyClock::now();
    std::this_thread::sleep_until(start + std::chrono::duration<double>(seconds));
    const double wall = std::chrono::duration<double>(SteadyClock::now() - before).count();
    return (cpuSeconds(pid) - cpuBefore) / wall;
}

Round runPelkoMic(const ScopedTempDir& folder, double seconds) {
    Round round;
    ChildOptions options;
    options.environment = {{"PELKO_MIC_INPUT", "lavfi:" + toneSource}};
    const auto start = SteadyClock::now();
    ChildProcess mic({PELKO_MIC_BINARY, (folder / "take.m4a").string()}, options);
    if (mic.readLine() != "recording") return round;
    round.started = millisecondsSince(start);
    for (auto line = mic.readLine(); line; line = mic.readLine()) {
        if (line->starts_with("level ")) break;
    }
    round.firstLevel = millisecondsSince(start);
    round.cpuPerSecond = steadyCPU(mic.pid(), start, seconds);
    mic.closeStdin();
    mic.readToEnd();
    mic.waitExit();
    return round;
}

Round runFFmpeg(const ScopedTempDir& folder, double seconds) {
    Round round;
    const auto file = folder / "reference.m4a";
    std::filesystem::remove(file);
    const auto start = SteadyClock::now();
    ChildProcess ffmpeg({"/usr/bin/ffmpeg",
                         "-hide_banner",
                         "-nostdin",
                         "-loglevel",
                         "error",
                         "-re",
                         "-f",
                         "lavfi",
                         "-i",
                         toneSource,
                         "-ar",
                         "16000",
                         "-ac",
                         "1",
                         "-c:a",
                         "aac",
                         "-b:a",
                         "32k",
                         "-progress",
                         "pipe:1",
                         "-stats_period",
                         "0.06",
                         "-y",
                         file.string()});
    // The header is written once the first samples have gone through the encoder's set-up.
    struct stat info {};
    while ((::stat(file.c_str(), &info) != 0 || info.st_size == 0) &&
           millisecondsSince(start) < 10000) {
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    round.started = millisecondsSince(start);
    ffmpeg.readLine();
    round.firstLevel = millisecondsSince(start);
    round.cpuPerSecond = steadyCPU(ffmpeg.pid(), start, seconds);
    ffmpeg.signal(SIGINT);
    ffmpeg.readToEnd();
    ffmpeg.waitExit();
    return round;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

void report(const char* name, const std::vector<Round>& rounds) {
    std::vector<double> started, level, cpu;
    for (const auto& round : rounds) {
        started.push_back(round.started);
        level.push_back(round.firstLevel);
        cpu.push_back(round.cpuPerSecond * 1000);
    }
    std::printf("%-10s  start %6.1f ms   first level %6.1f ms   CPU %5.1f ms per second\n", name,
                median(started), median(level), median(cpu));
}

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 5;
    const double seconds = argc > 2 ? std::atof(argv[2]) : 4;
    ScopedTempDir folder;
    std::vector<Round> mic, ffmpeg;
    for (int i = 0; i < rounds; ++i) {
        mic.push_back(runPelkoMic(folder, seconds));
        ffmpeg.push_back(runFFmpeg(folder, seconds));
    }
    std::printf("%d rounds, input lavfi %s, medians\n", rounds, toneSource.c_str());
    std::printf(
        "(ffmpeg: start = its file's header written, first level = first progress report)\n");
    report("pelko-mic", mic);
    report("ffmpeg", ffmpeg);
}
