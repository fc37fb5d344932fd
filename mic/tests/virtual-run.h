// Runs the whole program on the simulated microphone in virtual time. The test thread becomes
// the main queue; a driver task on that queue moves the virtual clock in 10 ms steps, performs
// the scripted host actions at their times (closing standard input, sending a signal) and
// stamps every output line with the virtual time at which it was written.
#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "clock.h"
#include "main-loop.h"
#include "mic-process.h"
#include "sim/sim-audio.h"

namespace pelko::mic::testing {

struct TimedLine {
    double at;  ///< virtual seconds since the run began
    std::string text;
};

struct TimedExit {
    double at;
    int status;
};

class VirtualRun {
  public:
    explicit VirtualRun(sim::SimMicrophone microphone = {});
    ~VirtualRun();

    /// The host closes standard input at `seconds`; time stands still until the stop it causes
    /// has run.
    void closeInputAt(double seconds);
    /// A SIGINT or SIGTERM reaches the program at `seconds`.
    void signalAt(double seconds);

    /// Runs `pelko-mic` with `arguments` (the program name is added) until `until` virtual
    /// seconds, or `linger` seconds after the first exit, to see that nothing follows it.
    void run(std::vector<std::string> arguments, double until = 30, double linger = 2);

    std::vector<std::string> texts() const;

    VirtualClock clock;
    MainLoop mainLoop{clock};
    std::unique_ptr<sim::SimAudioSystem> audio;
    std::vector<TimedLine> lines;
    std::vector<TimedExit> exits;
    /// The values of the last run.
    std::unique_ptr<MicProcess> process;

  private:
    double now() const { return inSeconds(clock.elapsed()); }
    void drive();
    void readOutput();

    std::multimap<double, std::function<void()>> actions_;
    std::function<void()> signalHandler_;
    std::unique_ptr<Platform> platform_;
    int inputRead_ = -1, inputWrite_ = -1;
    int outputRead_ = -1, outputWrite_ = -1;
    std::string partial_;
    double until_ = 0, linger_ = 0;
    bool awaitingStop_ = false;
    std::chrono::steady_clock::time_point awaitingSince_;
};

}  // namespace pelko::mic::testing
