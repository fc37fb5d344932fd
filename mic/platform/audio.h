// The audio seam: the microphone's authorisation and an audio recorder with metering that
// writes one compressed file.
//
// The shapes follow the platform's recorder model so that a backend stays a thin wrapper: a
// recorder is made for a file and a dictionary of settings, prepared, started for a duration,
// asked for its time and meters while it runs, and stopped, which finalises the file.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>

namespace pelko::mic {

/// The microphone authorisation state, with the platform's numbering.
enum class Authorization : int { notDetermined = 0, restricted = 1, denied = 2, authorized = 3 };

/// The four-character format code of MPEG-4 AAC audio, 'aac '.
constexpr std::uint32_t formatMPEG4AAC = 0x61616320;

/// How the encoder spends its bits.
enum class BitRateStrategy { constant, longTermAverage, variableConstrained, variable };

/// What the recorder is asked to write. The container follows the file's extension.
struct RecorderSettings {
    std::uint32_t format = formatMPEG4AAC;
    double sampleRate = 16000;
    int channels = 1;
    int encoderBitRate = 32000;
    BitRateStrategy bitRateStrategy = BitRateStrategy::constant;
};

/// One recording into one file. Every call comes from the program's main queue; the recorder
/// captures on threads of its own.
class AudioRecorder {
  public:
    virtual ~AudioRecorder() = default;
    /// Lets `updateMeters` measure the input; off until called with true.
    virtual void setMeteringEnabled(bool enabled) = 0;
    /// Opens the input and creates the file. False when either cannot be done.
    virtual bool prepareToRecord() = 0;
    /// Starts recording (preparing first when needed); the recorder stops by itself once it
    /// holds `seconds` of audio. False when it cannot start.
    virtual bool recordForDuration(double seconds) = 0;
    /// True from a successful start until the recorder stops, by `stop` or by itself (its
    /// duration reached, or the input went away). The file is complete once this reads false.
    virtual bool isRecording() = 0;
    /// Seconds of audio recorded so far; after the recording ended, the seconds it holds.
    virtual double currentTime() = 0;
    /// Measures the input since the previous update, for `averagePower`.
    virtual void updateMeters() = 0;
    /// The average power of one channel at the last update, in decibels of full scale (0 dB
    /// full scale, about -160 dB silence).
    virtual double averagePower(int channel) = 0;
    /// Stops recording and finalises the file; returns once the file is complete. Stopping a
    /// recorder that is not recording does nothing.
    virtual void stop() = 0;
};

/// The system's audio facilities.
class AudioSystem {
  public:
    virtual ~AudioSystem() = default;
    /// The microphone authorisation state now.
    virtual Authorization authorizationStatus() = 0;
    /// Shows the permission prompt; `answer` is called once, on any thread, with the answer.
    virtual void requestAccess(std::function<void(bool granted)> answer) = 0;
    /// A recorder for the file at `url` (an absolute path) with `settings`; nothing when the
    /// settings or the file's kind cannot be recorded. Creates nothing on disk yet.
    virtual std::unique_ptr<AudioRecorder> makeRecorder(const std::filesystem::path& url,
                                                        const RecorderSettings& settings) = 0;
};

}  // namespace pelko::mic
