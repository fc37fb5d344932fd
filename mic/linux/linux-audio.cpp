#include "linux/linux-audio.h"

#include <alsa/asoundlib.h>

#include <string_view>

extern "C" {
#include <libavdevice/avdevice.h>
#include <libavutil/log.h>
}

namespace pelko::mic::ffmpeg {

namespace {

/// ALSA's library reports failures such as a missing sound card on standard error itself.
extern "C" void ignoreALSAError(const char*, int, const char*, int, const char*, ...) {}

}  // namespace

std::vector<InputSource> defaultInputs() {
    return {{"pulse", "default"}, {"alsa", "default"}};
}

LinuxAudioOptions linuxAudioOptions(const char* input, const char* access) {
    LinuxAudioOptions options;
    options.inputs = defaultInputs();
    if (input && *input) {
        const std::string_view value = input;
        const auto colon = value.find(':');
        if (colon == std::string_view::npos) {
            options.inputs = {{"", std::string(value)}};
        } else if (value.substr(0, colon) == "file") {
            options.inputs = {{"", std::string(value.substr(colon + 1))}};
        } else {
            options.inputs = {
                {std::string(value.substr(0, colon)), std::string(value.substr(colon + 1))}};
        }
    }
    if (access) {
        const std::string_view value = access;
        if (value == "denied") options.access = Authorization::denied;
        if (value == "restricted") options.access = Authorization::restricted;
    }
    return options;
}

LinuxAudioSystem::LinuxAudioSystem(Clock& clock, LinuxAudioOptions options)
    : clock_(clock), options_(std::move(options)) {
    // The program writes nothing to standard error, FFmpeg's messages included.
    av_log_set_level(AV_LOG_QUIET);
    snd_lib_error_set_handler(ignoreALSAError);
    avdevice_register_all();
}

void LinuxAudioSystem::requestAccess(std::function<void(bool granted)> answer) {
    answer(options_.access == Authorization::authorized);
}

std::unique_ptr<AudioRecorder> LinuxAudioSystem::makeRecorder(const std::filesystem::path& url,
                                                              const RecorderSettings& settings) {
    if (settings.format != formatMPEG4AAC || settings.channels != 1 ||
        !(settings.sampleRate >= 8000 && settings.sampleRate <= 96000) ||
        settings.encoderBitRate <= 0) {
        return nullptr;
    }
    auto container = containerFor(url);
    if (!container) return nullptr;
    return std::make_unique<FFmpegRecorder>(clock_, options_.inputs, url, *container, settings);
}

std::unique_ptr<AudioSystem> makeLinuxAudio(Clock& clock, LinuxAudioOptions options) {
    return std::make_unique<LinuxAudioSystem>(clock, std::move(options));
}

}  // namespace pelko::mic::ffmpeg
