// The recorder on Linux: captures an FFmpeg input (the default microphone through PulseAudio
// or ALSA, or a test input), resamples it, encodes AAC and writes the file, on a capture
// thread of its own.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "clock.h"
#include "platform/audio.h"

namespace pelko::mic::ffmpeg {

/// An FFmpeg input: a format (input device or demuxer) and the name it opens. An empty format
/// leaves FFmpeg to recognise a file.
struct InputSource {
    std::string format;
    std::string name;
    bool operator==(const InputSource&) const = default;
};

/// The muxer for a file's extension, compared without case: "ipod" for .m4a, "mp4" for .mp4,
/// "adts" for .aac; nothing for any other.
std::optional<std::string> containerFor(const std::filesystem::path& file);

/// The average power of `count` samples whose squares add up to `sumOfSquares`, in decibels of
/// full scale, never below -160 (silence).
double averagePowerDB(double sumOfSquares, std::int64_t count);

class FFmpegRecorder final : public AudioRecorder {
  public:
    /// Records the first of `inputs` that opens into `file` with the muxer `container`.
    /// `clock` paces inputs that are not live devices (generated sound, files) to real time.
    FFmpegRecorder(Clock& clock, std::vector<InputSource> inputs, std::filesystem::path file,
                   std::string container, const RecorderSettings& settings);
    /// Stops; removes the file when it was created but never recorded into.
    ~FFmpegRecorder() override;
    FFmpegRecorder(const FFmpegRecorder&) = delete;
    FFmpegRecorder& operator=(const FFmpegRecorder&) = delete;

    void setMeteringEnabled(bool enabled) override;
    bool prepareToRecord() override;
    bool recordForDuration(double seconds) override;
    bool isRecording() override { return recording_; }
    double currentTime() override;
    void updateMeters() override;
    double averagePower(int channel) override;
    void stop() override;

    /// The input that opened, once prepared.
    std::optional<InputSource> openedInput() const;

  private:
    struct Pipeline;
    void capture(std::int64_t sampleLimit);
    /// Adds resampled samples to the meter and the encoder; false once the limit is reached.
    bool take(const float* samples, int count, std::int64_t sampleLimit);

    Clock& clock_;
    const std::vector<InputSource> inputs_;
    const std::filesystem::path file_;
    const std::string container_;
    const RecorderSettings settings_;
    std::unique_ptr<Pipeline> pipeline_;
    std::thread captureThread_;
    bool started_ = false;
    /// Raised by `stop`; the capture thread sees it between reads and in its pacing waits.
    Signal stopRequested_;
    /// Read by FFmpeg's interrupt callback, so a blocking read gives up at a stop.
    std::atomic<bool> stopping_ = false;
    std::atomic<bool> recording_ = false;
    std::atomic<std::int64_t> samplesRecorded_ = 0;

    mutable std::mutex meterMutex_;
    bool metering_ = false;
    double sumOfSquares_ = 0;
    std::int64_t meteredSamples_ = 0;
    double power_ = -160;
};

}  // namespace pelko::mic::ffmpeg
