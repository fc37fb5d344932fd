#include "sim/sim-capture.h"

#include <atomic>

#include "sim/file-pasteboard.h"
#include "sim/test-pattern.h"

namespace pelko::phone::sim {

namespace {

class SimCaptureSession final : public CaptureSession {
  public:
    explicit SimCaptureSession(SimCaptureSystem& system) : system_(system) {}
    ~SimCaptureSession() override { stopRunning(); }

    void beginConfiguration() override {}
    void commitConfiguration() override {}

    std::optional<std::string> makeDeviceInput(const std::string& uniqueId) override {
        const SceneDevice* device = system_.visibleDevice(uniqueId);
        if (!device) return "The iPhone's screen is no longer available.";
        if (device->sessionFailure == "input") return device->inputError;
        pending_ = *device;
        return {};
    }
    bool canAddInput() override { return pending_ && pending_->sessionFailure != "refused"; }
    bool canAddOutput() override { return true; }
    void addInput() override { device_ = pending_; }
    void addVideoOutput(SampleBufferDelegate& delegate, SerialQueue& queue) override {
        delegate_ = &delegate;
        queue_ = &queue;
    }

    void startRunning() override {
        std::lock_guard guard(mutex_);
        if (running_ || thread_.joinable() || !device_ || !delegate_) return;
        // A session stopped before it started (the stream ended meanwhile) stays stopped.
        if (device_->sessionFailure == "start" || stop_.isRaised()) return;
        running_ = true;
        thread_ = std::thread([this] { deliver(); });
    }

    void stopRunning() override {
        std::thread thread;
        {
            std::lock_guard guard(mutex_);
            running_ = false;
            stop_.raise();
            thread = std::move(thread_);
        }
        if (thread.joinable()) thread.join();
    }

    bool isRunning() override { return running_; }

  private:
    /// The session's own thread: paints pictures at the device's rate and hands each to the
    /// queue unless the previous one is still there (late pictures are dropped), until stopped,
    /// unplugged or failed.
    void deliver() {
        Clock& clock = system_.clock();
        const Instant started = clock.now();
        const SceneDevice& device = *device_;
        const Duration period = seconds(1.0 / device.fps);
        PhoneScreenPainter painter;
        std::uint64_t frame = 0;
        for (;;) {
            const double at = inSeconds(clock.now() - started);
            // Both may fall due together; then both are reported, as two system threads would.
            const bool unplugged = device.disconnectAfter && at >= *device.disconnectAfter;
            const bool failed = device.runtimeErrorAfter && at >= *device.runtimeErrorAfter;
            if (unplugged || failed) running_ = false;
            if (unplugged) system_.disconnect(device.uniqueId);
            if (failed) system_.failSession(device);
            if (unplugged || failed) return;
            if (!pictureInQueue_) {
                ScreenSize size = device.sizes.front();
                for (const auto& later : device.sizes) {
                    if (later.from <= at) size = later;
                }
                SampleBuffer sample;
                if (size.width > 0 && size.height > 0) {
                    painter.paint(picture_, size.width, size.height, frame);
                    sample.pixelBuffer =
                        PixelBuffer{size.width, size.height, size.width * 4, picture_.data()};
                }
                pictureInQueue_ = true;
                queue_->async([this, sample] {
                    delegate_->captureOutput(sample);
                    pictureInQueue_ = false;
                });
            }
            ++frame;
            if (clock.wait(stop_, period)) return;
        }
    }

    SimCaptureSystem& system_;
    std::optional<SceneDevice> pending_;
    std::optional<SceneDevice> device_;
    SampleBufferDelegate* delegate_ = nullptr;
    SerialQueue* queue_ = nullptr;
    std::mutex mutex_;
    std::atomic<bool> running_{false};
    // The picture being shown to the delegate; painted again only once the delegate is done.
    std::vector<std::uint8_t> picture_;
    std::atomic<bool> pictureInQueue_{false};
    Signal stop_;
    std::thread thread_;
};

}  // namespace

SimCaptureSystem::SimCaptureSystem(Scene scene, Clock& clock)
    : scene_(std::move(scene)),
      clock_(clock),
      loaded_(clock.now()),
      authorization_(scene_.permission) {
    for (const auto& device : scene_.devices) {
        if (device.inUseByAnotherApp) busy_.insert(device.uniqueId);
    }
}

SimCaptureSystem::~SimCaptureSystem() {
    for (auto& prompt : prompts_) prompt.join();
}

std::int32_t SimCaptureSystem::allowScreenCaptureDevices() {
    std::lock_guard guard(mutex_);
    ++switches_;
    return scene_.allowScreenCaptureStatus;
}

int SimCaptureSystem::screenCaptureSwitches() const {
    std::lock_guard guard(mutex_);
    return switches_;
}

std::vector<CaptureDeviceInfo> SimCaptureSystem::discover(DiscoveryQuery query) {
    const double at = inSeconds(clock_.now() - loaded_);
    std::lock_guard guard(mutex_);
    std::vector<CaptureDeviceInfo> found;
    for (const auto& device : scene_.devices) {
        if (at < device.appearAfter || unplugged_.count(device.uniqueId)) continue;
        if (query == DiscoveryQuery::externalMuxed && (device.continuityCamera || !device.muxed)) {
            continue;
        }
        found.push_back(
            {device.uniqueId, device.name, device.model, device.manufacturer, device.muxed});
    }
    return found;
}

const SceneDevice* SimCaptureSystem::visibleDevice(const std::string& uniqueId) {
    const double at = inSeconds(clock_.now() - loaded_);
    std::lock_guard guard(mutex_);
    for (const auto& device : scene_.devices) {
        if (device.uniqueId == uniqueId && at >= device.appearAfter &&
            !unplugged_.count(uniqueId)) {
            return &device;
        }
    }
    return nullptr;
}

bool SimCaptureSystem::isInUseByAnotherApplication(const std::string& uniqueId) {
    std::lock_guard guard(mutex_);
    return busy_.count(uniqueId) && !unplugged_.count(uniqueId);
}

Authorization SimCaptureSystem::authorizationStatus() {
    std::lock_guard guard(mutex_);
    return authorization_;
}

void SimCaptureSystem::requestAccess(std::function<void(bool granted)> answer) {
    std::lock_guard guard(mutex_);
    // The user answers on a thread of the system's, as the real prompt does.
    prompts_.emplace_back([this, answer = std::move(answer)] {
        {
            std::lock_guard guard(mutex_);
            authorization_ = scene_.afterPrompt;
        }
        answer(scene_.promptFlag);
    });
}

std::unique_ptr<CaptureSession> SimCaptureSystem::makeSession() {
    return std::make_unique<SimCaptureSession>(*this);
}

void SimCaptureSystem::observeDisconnect(std::function<void(const std::string&)> handler) {
    std::lock_guard guard(mutex_);
    disconnectObservers_.push_back(std::move(handler));
}

void SimCaptureSystem::observeRuntimeError(
    std::function<void(const std::optional<std::string>&)> handler) {
    std::lock_guard guard(mutex_);
    errorObservers_.push_back(std::move(handler));
}

void SimCaptureSystem::disconnect(const std::string& uniqueId) {
    std::vector<std::function<void(const std::string&)>> observers;
    {
        std::lock_guard guard(mutex_);
        unplugged_.insert(uniqueId);
        observers = disconnectObservers_;
    }
    for (auto& observer : observers) observer(uniqueId);
}

void SimCaptureSystem::failSession(const SceneDevice& device) {
    std::vector<std::function<void(const std::optional<std::string>&)>> observers;
    {
        std::lock_guard guard(mutex_);
        if (device.busyAfterRuntimeError) busy_.insert(device.uniqueId);
        observers = errorObservers_;
    }
    for (auto& observer : observers) observer(device.runtimeErrorMessage);
}

SimPhone makeSimPhone(Scene scene, Clock& clock,
                      std::optional<std::filesystem::path> pasteboardFolder) {
    SimPhone phone;
    if (pasteboardFolder) phone.pasteboard = std::make_unique<FilePasteboard>(*pasteboardFolder);
    if (scene.wiredIphones) phone.usb = std::make_unique<FixedUsbDevices>(*scene.wiredIphones);
    phone.capture = std::make_unique<SimCaptureSystem>(std::move(scene), clock);
    return phone;
}

}  // namespace pelko::phone::sim
