// A scriptable model of the microphone and its recorder, for tests: the input's power over
// time, an input that goes away, failures at each step, and every authorisation state with the
// prompt's answer. Time comes from the clock it is given, so a virtual clock runs it.
#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "clock.h"
#include "platform/audio.h"

namespace pelko::mic::sim {

/// The power that the input reads as silence, in decibels of full scale.
constexpr double silencePower = -160;

/// What the simulated microphone does.
struct SimMicrophone {
    Authorization authorization = Authorization::authorized;
    /// The prompt's answer for `notDetermined`, given `promptDelay` after the request.
    bool promptAnswer = true;
    Duration promptDelay = seconds(2);
    bool createFails = false;
    bool prepareFails = false;
    bool recordFails = false;
    /// The input's average power (decibels) from a number of seconds into the recording on, in
    /// order of time; silence before the first.
    std::vector<std::pair<double, double>> power;
    /// Seconds into the recording after which the input goes away and the recorder stops.
    std::optional<double> stopsAfter;
};

/// The calls that change something, in order ("makeRecorder /tmp/a.m4a", "metering on",
/// "prepare", "record 6000.00", "stop 1.00", "requestAccess"), and the times of meter updates.
class SimLog {
  public:
    void add(std::string entry);
    std::vector<std::string> entries() const;
    void addMeterUpdate(Duration at);
    /// Times of the meter updates, counted from the start of the recording.
    std::vector<Duration> meterUpdates() const;

  private:
    mutable std::mutex mutex_;
    std::vector<std::string> entries_;
    std::vector<Duration> meterUpdates_;
};

class SimAudioSystem final : public AudioSystem {
  public:
    SimAudioSystem(Clock& clock, SimMicrophone microphone);
    Authorization authorizationStatus() override;
    void requestAccess(std::function<void(bool granted)> answer) override;
    std::unique_ptr<AudioRecorder> makeRecorder(const std::filesystem::path& url,
                                                const RecorderSettings& settings) override;

    const SimLog& log() const { return *log_; }
    /// The settings the last recorder was made with.
    std::optional<RecorderSettings> lastSettings() const;

  private:
    Clock& clock_;
    SimMicrophone microphone_;
    std::shared_ptr<SimLog> log_ = std::make_shared<SimLog>();
    mutable std::mutex mutex_;
    std::optional<RecorderSettings> lastSettings_;
};

/// The simulated audio system; its log shows what the program did with it.
std::unique_ptr<SimAudioSystem> makeSimAudio(Clock& clock, SimMicrophone microphone);

}  // namespace pelko::mic::sim
