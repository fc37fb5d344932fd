#include "mic-process.h"

#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdio>

#include "fd.h"

namespace pelko::mic {

namespace {

/// How long one wait for the permission answer lasts before it is renewed; the answer may take
/// as long as the user likes.
constexpr Duration accessWaitSlice = seconds(3600);

/// Level changes a rounding error short of `levelStep` still count, so that 0.30 → 0.28 is a
/// change like 0.50 → 0.52.
constexpr double levelTolerance = 1e-9;

void endWith(MicProcess& process, std::string_view line, int status) {
    // The recorder goes before the process does, so a file it created but never recorded into
    // does not stay behind.
    process.recorder.reset();
    say(process.platform, line);
    process.platform.exitProcess(status);
}

/// Reads standard input to its end (the lines mean nothing), then asks for the stop.
void readInputToEnd(MicProcess& process) {
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(process.platform.inputFd, buffer, sizeof buffer);
        if (n > 0) continue;
        if (n < 0 && errno == EINTR) continue;
        break;
    }
    process.platform.mainLoop.post([&process] { finish(process); });
}

}  // namespace

MicProcess::MicProcess(Platform& platform, std::vector<std::string> args)
    : platform(platform), args(std::move(args)) {}

MicProcess::~MicProcess() {
    if (inputReader.joinable()) inputReader.join();
}

void say(const Platform& platform, std::string_view text) {
    std::string line(text);
    line += '\n';
    // A reader that went away is not an error of the recording: the line is simply lost.
    (void)writeAll(platform.outputFd, line);
}

std::string statusLine(std::string_view word, double value) {
    char number[64];
    std::snprintf(number, sizeof number, "%.2f", value);
    return std::string(word) + " " + number;
}

bool waitForAccess(Platform& platform) {
    switch (platform.audio.authorizationStatus()) {
        case Authorization::authorized:
            return true;
        case Authorization::notDetermined:
            break;
        default:
            return false;
    }
    // Shared with the answer, which may come on any thread, also after a waiter gave up.
    struct Answer {
        Signal given;
        std::atomic<bool> granted = false;
    };
    auto answer = std::make_shared<Answer>();
    platform.audio.requestAccess([answer](bool granted) {
        answer->granted = granted;
        answer->given.raise();
    });
    while (!platform.clock.wait(answer->given, accessWaitSlice)) {
    }
    return answer->granted;
}

double levelFromPower(double decibels) {
    const double level = (decibels + 50) / 40;
    if (!(level > 0)) return 0;
    if (level > 1) return 1;
    return level;
}

void finish(MicProcess& process) {
    if (process.finished) return;
    process.finished = true;
    const double recorded = process.recorder->currentTime();
    process.recorder->stop();
    say(process.platform, statusLine("done", recorded));
    process.platform.exitProcess(exitDone);
}

void pollRecorder(MicProcess& process) {
    if (process.finished || process.recorder->isRecording()) return;
    process.finished = true;
    say(process.platform, statusLine("done", process.maxSeconds));
    process.platform.exitProcess(exitDone);
}

void sampleMeter(MicProcess& process) {
    AudioRecorder& recorder = *process.recorder;
    if (process.finished || !recorder.isRecording()) return;
    recorder.updateMeters();
    const double level = levelFromPower(recorder.averagePower(0));
    if (std::abs(level - process.lastLevel) < levelStep - levelTolerance) return;
    process.lastLevel = level;
    say(process.platform, statusLine("level", level));
}

void runMic(MicProcess& process) {
    Platform& platform = process.platform;
    const auto& args = process.args;
    if (args.size() < 2) return endWith(process, "error usage", exitUsage);
    process.output = outputURL(args[1]);
    if (args.size() > 2) {
        process.maxSeconds = parseMaxSeconds(args[2]).value_or(defaultMaxSeconds);
    }

    if (!waitForAccess(platform)) return endWith(process, "error denied", exitDenied);

    process.recorder = platform.audio.makeRecorder(process.output, process.settings);
    if (!process.recorder) return endWith(process, "error failed", exitFailed);
    process.recorder->setMeteringEnabled(true);
    if (!process.recorder->prepareToRecord() ||
        !process.recorder->recordForDuration(process.maxSeconds)) {
        return endWith(process, "error failed", exitFailed);
    }

    // The signals are taken over before "recording" is printed: a host that interrupts as soon
    // as it reads the line gets a finalised file, not a process killed halfway through it.
    platform.watchStopSignals([&process] { finish(process); });
    say(platform, "recording");
    process.finished = false;

    process.inputReader = std::thread([&process] { readInputToEnd(process); });

    process.poll =
        std::make_unique<RepeatingTimer>(platform.mainLoop, platform.clock, pollInterval,
                                         pollInterval, [&process] { pollRecorder(process); });
    process.lastLevel = -1;
    process.meter =
        std::make_unique<RepeatingTimer>(platform.mainLoop, platform.clock, meterInterval,
                                         meterInterval, [&process] { sampleMeter(process); });
    platform.mainLoop.run();
}

}  // namespace pelko::mic
