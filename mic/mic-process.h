// The process-wide values of pelko-mic and what runs on its main queue: the start-up, the
// status lines, the orderly stop, the poll for a recorder that stopped by itself, and the meter.
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "clock.h"
#include "command-line.h"
#include "main-loop.h"
#include "platform/audio.h"
#include "repeating-timer.h"

namespace pelko::mic {

/// Exit statuses.
constexpr int exitDone = 0;
constexpr int exitUsage = 64;
constexpr int exitDenied = 3;
constexpr int exitFailed = 4;

/// How often the poll looks for a recorder that stopped by itself.
constexpr Duration pollInterval = seconds(1);
/// How often the meter samples the level.
constexpr Duration meterInterval = seconds(0.06);
/// The smallest change of level that is printed.
constexpr double levelStep = 0.02;

/// Everything the program reaches outside itself. `main` makes the real one; tests make theirs
/// with the simulated recorder, a virtual clock, pipes for the standard streams, a signal
/// watcher they trigger themselves and an exit that does not end the test.
struct Platform {
    AudioSystem& audio;
    Clock& clock;
    /// The main queue: signal handlers, both timers and the stop run here, one at a time.
    MainLoop& mainLoop;
    int inputFd = 0;
    int outputFd = 1;
    /// From the call on, runs the handler on the main loop for every SIGINT and SIGTERM, whose
    /// default actions are off.
    std::function<void(std::function<void()> handler)> watchStopSignals;
    /// Ends the process with the status. The real one never returns; a test's returns, and
    /// then its caller returns too.
    std::function<void(int status)> exitProcess;
};

/// The process-wide values, made by `main` from the command line; `runMic` fills the rest.
struct MicProcess {
    MicProcess(Platform& platform, std::vector<std::string> args);
    /// Waits for the standard-input reader, which ends once the input has.
    ~MicProcess();
    MicProcess(const MicProcess&) = delete;
    MicProcess& operator=(const MicProcess&) = delete;

    Platform& platform;
    /// The command line, element 0 the program.
    std::vector<std::string> args;
    /// The output file, from argument 1.
    std::filesystem::path output;
    /// The longest recording, from argument 2.
    double maxSeconds = defaultMaxSeconds;
    /// AAC at 16 kHz, mono, 32 kbit/s, constant bit rate.
    RecorderSettings settings;
    /// The running recorder.
    std::unique_ptr<AudioRecorder> recorder;
    /// Set once the final line is being written; later stop requests are ignored. Main loop.
    bool finished = false;
    /// The level last printed; below 0 until the first.
    double lastLevel = -1;
    std::unique_ptr<RepeatingTimer> poll;
    std::unique_ptr<RepeatingTimer> meter;
    /// Reads standard input until it ends, then asks for `finish`.
    std::thread inputReader;
};

/// Writes `text` and a line feed to the output in one piece. A failed write reads as nothing.
void say(const Platform& platform, std::string_view text);

/// `word`, a space and `value` with two decimals: "done 3.02".
std::string statusLine(std::string_view word, double value);

/// Whether the microphone may be used. Asks the user when nobody has decided yet and blocks
/// the calling thread until the answer comes.
bool waitForAccess(Platform& platform);

/// The level for an average power in decibels of full scale: -50 dB and below (and anything
/// that is not a number) read 0, -10 dB and above read 1, linear in decibels between.
double levelFromPower(double decibels);

/// The orderly stop: stops the recorder (which finalises the file), prints "done" with the
/// seconds recorded and exits 0. Only the first call does anything. Main loop.
void finish(MicProcess& process);

/// The poll: once the recorder has stopped by itself, prints "done" with `maxSeconds` and
/// exits 0. Main loop.
void pollRecorder(MicProcess& process);

/// The meter: samples the level and prints it when it moved by `levelStep` or more since the
/// level last printed (the first sample always). Main loop.
void sampleMeter(MicProcess& process);

/// The whole program: checks the command line and access, starts the recorder, prints
/// "recording", then runs the main loop until something ends the process. Returns only after
/// the platform's exit returned (in tests).
void runMic(MicProcess& process);

}  // namespace pelko::mic
