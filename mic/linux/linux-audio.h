// The audio system on Linux: no permission prompt (access is granted unless the environment
// says otherwise) and FFmpeg recorders on the default input or a test input.
#pragma once

#include <memory>
#include <vector>

#include "clock.h"
#include "linux/ffmpeg-recorder.h"
#include "platform/audio.h"

namespace pelko::mic::ffmpeg {

/// What the environment chooses.
struct LinuxAudioOptions {
    /// Tried in order; the first that opens is recorded.
    std::vector<InputSource> inputs;
    Authorization access = Authorization::authorized;
};

/// The name of the variable that names another input: "FORMAT:NAME" (an FFmpeg input format
/// and what it opens, such as "lavfi:sine=frequency=440"), "file:PATH", or a plain path.
constexpr const char* inputVariable = "PELKO_MIC_INPUT";
/// The name of the variable that refuses access: "denied" or "restricted".
constexpr const char* accessVariable = "PELKO_MIC_ACCESS";

/// The inputs tried when nothing else is named: PulseAudio's default source, then ALSA's
/// default device.
std::vector<InputSource> defaultInputs();

/// The options for the values of the two variables (null when unset).
LinuxAudioOptions linuxAudioOptions(const char* input, const char* access);

class LinuxAudioSystem final : public AudioSystem {
  public:
    /// Makes FFmpeg's input devices known and quiets FFmpeg's own messages.
    LinuxAudioSystem(Clock& clock, LinuxAudioOptions options);
    Authorization authorizationStatus() override { return options_.access; }
    /// There is no prompt: the answer is the state as it stands, at once.
    void requestAccess(std::function<void(bool granted)> answer) override;
    /// Nothing for settings other than mono AAC, or a file that is not .m4a, .mp4 or .aac.
    std::unique_ptr<AudioRecorder> makeRecorder(const std::filesystem::path& url,
                                                const RecorderSettings& settings) override;

  private:
    Clock& clock_;
    LinuxAudioOptions options_;
};

/// The Linux audio system with the options the environment chose.
std::unique_ptr<AudioSystem> makeLinuxAudio(Clock& clock, LinuxAudioOptions options);

}  // namespace pelko::mic::ffmpeg
