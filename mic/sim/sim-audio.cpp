#include "sim/sim-audio.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

namespace pelko::mic::sim {

namespace {

std::string withSeconds(const char* word, double value) {
    char text[80];
    std::snprintf(text, sizeof text, "%s %.2f", word, value);
    return text;
}

/// A recorder that records nothing: it keeps time on the clock and reads the scripted power.
class SimRecorder final : public AudioRecorder {
  public:
    SimRecorder(Clock& clock, const SimMicrophone& microphone, std::shared_ptr<SimLog> log)
        : clock_(clock), microphone_(microphone), log_(std::move(log)) {}

    void setMeteringEnabled(bool enabled) override {
        metering_ = enabled;
        log_->add(enabled ? "metering on" : "metering off");
    }

    bool prepareToRecord() override {
        log_->add("prepare");
        prepared_ = !microphone_.prepareFails;
        return prepared_;
    }

    bool recordForDuration(double seconds) override {
        log_->add(withSeconds("record", seconds));
        if (microphone_.recordFails || started_ || !(seconds > 0)) return false;
        if (!prepared_ && !prepareToRecord()) return false;
        started_ = true;
        start_ = clock_.now();
        end_ = std::min(seconds,
                        microphone_.stopsAfter.value_or(std::numeric_limits<double>::infinity()));
        return true;
    }

    bool isRecording() override { return started_ && !stopped_ && elapsed() < end_; }

    double currentTime() override {
        if (!started_) return 0;
        return std::min(stopped_ ? stoppedAt_ : elapsed(), end_);
    }

    void updateMeters() override {
        log_->addMeterUpdate(clock_.now() - start_);
        if (!metering_) return;
        const double at = elapsed();
        power_ = silencePower;
        for (const auto& [from, decibels] : microphone_.power) {
            if (from <= at) power_ = decibels;
        }
    }

    double averagePower(int channel) override { return channel == 0 ? power_ : silencePower; }

    void stop() override {
        if (!isRecording()) return;
        stoppedAt_ = elapsed();
        stopped_ = true;
        log_->add(withSeconds("stop", stoppedAt_));
    }

  private:
    double elapsed() const { return inSeconds(clock_.now() - start_); }

    Clock& clock_;
    const SimMicrophone microphone_;
    std::shared_ptr<SimLog> log_;
    bool metering_ = false;
    bool prepared_ = false;
    bool started_ = false;
    bool stopped_ = false;
    Instant start_{};
    double end_ = 0;
    double stoppedAt_ = 0;
    double power_ = silencePower;
};

}  // namespace

void SimLog::add(std::string entry) {
    std::lock_guard lock(mutex_);
    entries_.push_back(std::move(entry));
}

std::vector<std::string> SimLog::entries() const {
    std::lock_guard lock(mutex_);
    return entries_;
}

void SimLog::addMeterUpdate(Duration at) {
    std::lock_guard lock(mutex_);
    meterUpdates_.push_back(at);
}

std::vector<Duration> SimLog::meterUpdates() const {
    std::lock_guard lock(mutex_);
    return meterUpdates_;
}

SimAudioSystem::SimAudioSystem(Clock& clock, SimMicrophone microphone)
    : clock_(clock), microphone_(std::move(microphone)) {}

Authorization SimAudioSystem::authorizationStatus() {
    return microphone_.authorization;
}

void SimAudioSystem::requestAccess(std::function<void(bool granted)> answer) {
    log_->add("requestAccess");
    // Only an undecided user is asked; otherwise the answer is the decision already made.
    const bool granted = microphone_.authorization == Authorization::notDetermined
                             ? microphone_.promptAnswer
                             : microphone_.authorization == Authorization::authorized;
    clock_.schedule(microphone_.promptDelay,
                    [answer = std::move(answer), granted] { answer(granted); });
}

std::unique_ptr<AudioRecorder> SimAudioSystem::makeRecorder(const std::filesystem::path& url,
                                                            const RecorderSettings& settings) {
    log_->add("makeRecorder " + url.string());
    {
        std::lock_guard lock(mutex_);
        lastSettings_ = settings;
    }
    if (microphone_.createFails) return nullptr;
    return std::make_unique<SimRecorder>(clock_, microphone_, log_);
}

std::optional<RecorderSettings> SimAudioSystem::lastSettings() const {
    std::lock_guard lock(mutex_);
    return lastSettings_;
}

std::unique_ptr<SimAudioSystem> makeSimAudio(Clock& clock, SimMicrophone microphone) {
    return std::make_unique<SimAudioSystem>(clock, std::move(microphone));
}

}  // namespace pelko::mic::sim
