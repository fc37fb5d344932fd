// pelko-mic stopped at random moments by two signals in a row (SIGINT or SIGTERM, in any mix,
// at once or a little apart), recording a generated tone paced like a microphone.
//
//   mic-soak [--seconds 60] [--longest 3] [--seed N]
//
// Runs whose signals come after "recording" must end with status 0, exactly one "done" line as
// the last line, nothing on standard error, and a file that ffprobe reads as AAC audio whose
// length is close to the seconds "done" reports. Runs stopped before "recording" came are
// counted apart (the program may not have set up its stop handling yet). Prints the signal
// pairs, the endings, the recorded seconds against ffprobe's, and ends with status 1 on any
// fault.
#include <poll.h>
#include <unistd.h>

#include <cmath>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "child-process.h"
#include "soak-support.h"

namespace {

using namespace pelko;
using namespace pelko::soak;

// Lines of standard output until its end or `until` (or the first line, with `firstOnly`).
std::vector<std::string> readLines(int fd, std::string& pending, SteadyClock::time_point until,
                                   bool firstOnly) {
    std::vector<std::string> lines;
    char chunk[4096];
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(until - SteadyClock::now());
        if (left.count() <= 0) break;
        const int waitMs = static_cast<int>(std::min<long>(left.count(), 100));
        pollfd ready{fd, POLLIN, 0};
        if (::poll(&ready, 1, waitMs) <= 0) continue;
        const ssize_t got = ::read(fd, chunk, sizeof chunk);
        if (got <= 0) break;
        pending.append(chunk, static_cast<size_t>(got));
        for (size_t end; (end = pending.find('\n')) != std::string::npos;) {
            lines.push_back(pending.substr(0, end));
            pending.erase(0, end + 1);
        }
        if (firstOnly && !lines.empty()) break;
    }
    return lines;
}

// ffprobe's codec and duration of the file's audio, or nothing when it cannot read it.
std::optional<std::pair<std::string, double>> probe(const std::string& path) {
    const std::string command =
        "ffprobe -v error -select_streams a:0 -show_entries "
        "stream=codec_name:format=duration -of default=nw=1 '" +
        path + "' 2>/dev/null";
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return std::nullopt;
    std::string text;
    char chunk[512];
    while (size_t n = std::fread(chunk, 1, sizeof chunk, pipe)) text.append(chunk, n);
    if (::pclose(pipe) != 0) return std::nullopt;
    std::string codec;
    double duration = -1;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        if (line.starts_with("codec_name=")) codec = line.substr(11);
        if (line.starts_with("duration=")) duration = std::atof(line.c_str() + 9);
    }
    if (codec.empty() || duration < 0) return std::nullopt;
    return std::pair{codec, duration};
}

}  // namespace

int main(int argc, char** argv) {
    const Options options(argc, argv, {{"longest", 3}});
    auto random = randomSource(options);
    Faults faults;
    pelko::testing::ScopedTempDir dir;
    std::printf("mic soak: seed %.0f, %.0f s, recordings of up to %.1f s\n", options["seed"],
                options["seconds"], options["longest"]);
    const std::string errorPath = (dir / "stderr").string();

    std::map<std::string, long> pairs, endings;
    long runs = 0, early = 0, playable = 0;
    double worstDrift = 0;
    const auto start = SteadyClock::now();
    for (long run = 0; SteadyClock::now() - start < options.seconds(); ++run) {
        const std::string file = (dir / ("take-" + std::to_string(run % 4) + ".m4a")).string();
        std::remove(file.c_str());
        Spawned mic({PELKO_MIC, file}, {"PELKO_MIC_INPUT=lavfi:sine=frequency=440"}, errorPath);
        std::string pending;
        // One in five runs is stopped without waiting for "recording".
        const bool stopEarly = chance(random, 0.2);
        bool recording = false;
        std::vector<std::string> lines;
        if (!stopEarly) {
            lines = readLines(mic.output(), pending, SteadyClock::now() + std::chrono::seconds(20),
                              true);
            recording = !lines.empty() && lines[0] == "recording";
            if (!recording) {
                faults.add("no \"recording\" line within 20 s",
                           lines.empty() ? "nothing" : lines[0]);
                continue;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(
                pick(random, 0, static_cast<long>(options["longest"] * 1000))));
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(pick(random, 0, 300)));
        }
        const int first = chance(random, 0.5) ? SIGINT : SIGTERM;
        const int second = chance(random, 0.5) ? SIGINT : SIGTERM;
        ::kill(mic.pid(), first);
        if (chance(random, 0.5))
            std::this_thread::sleep_for(std::chrono::milliseconds(pick(random, 1, 100)));
        ::kill(mic.pid(), second);
        const auto rest =
            readLines(mic.output(), pending, SteadyClock::now() + std::chrono::seconds(20), false);
        lines.insert(lines.end(), rest.begin(), rest.end());
        const auto status = mic.wait(std::chrono::seconds(20));
        ++runs;
        ++pairs[std::string(first == SIGINT ? "INT" : "TERM") + " + " +
                (second == SIGINT ? "INT" : "TERM") + (stopEarly ? " (early)" : "")];

        long doneLines = 0;
        double doneSeconds = -1;
        for (const auto& line : lines)
            if (line.starts_with("done ")) {
                ++doneLines;
                doneSeconds = std::atof(line.c_str() + 5);
            }
        const auto probed = probe(file);
        const std::string ending = "status " + (status ? std::to_string(*status) : "none") +
                                   ", done lines " + std::to_string(doneLines) +
                                   (probed ? ", playable" : ", no playable file");
        ++endings[(stopEarly ? "early: " : "") + ending];
        if (stopEarly) {
            ++early;
            continue;
        }
        if (!status) {
            faults.add("no ending within 20 s after the signals", ending);
            continue;
        }
        if (*status != 0) faults.add("an exit status other than 0", ending);
        if (doneLines != 1) faults.add("not exactly one done line", ending);
        if (lines.empty() || !lines.back().starts_with("done "))
            faults.add("done is not last", ending);
        if (!pelko::testing::readFile(errorPath).empty())
            faults.add("something on standard error", pelko::testing::readFile(errorPath));
        if (!probed) {
            faults.add("a file ffprobe cannot read", file);
            continue;
        }
        ++playable;
        if (probed->first != "aac") faults.add("audio that is not AAC", probed->first);
        worstDrift = std::max(worstDrift, std::abs(probed->second - doneSeconds));
        // The encoder's last frame holds at most 1024 samples (64 ms at 16 kHz) and the container
        // adds its priming; more than a quarter second apart is a file cut short.
        if (std::abs(probed->second - doneSeconds) > 0.25)
            faults.add("the file's length differs from the done line",
                       std::to_string(probed->second) + " s against " +
                           std::to_string(doneSeconds) + " s");
    }

    std::printf("figures:\n");
    figure("runs", runs);
    figure("  stopped after \"recording\"", runs - early);
    figure("  stopped early", early);
    figure("seconds", secondsSince(start), "%.1f");
    figure("playable files (after \"recording\")", playable);
    figure("largest |ffprobe length - done seconds| (s)", worstDrift, "%.3f");
    std::printf("  signal pairs:\n");
    for (const auto& [pair, count] : pairs) figure("    " + pair, count);
    std::printf("  endings:\n");
    for (const auto& [ending, count] : endings) figure("    " + ending, count);
    return faults.report();
}
