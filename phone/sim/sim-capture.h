// The simulated capture system: the devices of a phone scene appearing after their delays,
// sessions that deliver painted screen pictures at the scene's rate, and the scene's
// disconnects and runtime errors, posted from the session's own thread.
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <thread>
#include <vector>

#include "clock.h"
#include "platform/capture.h"
#include "platform/pasteboard.h"
#include "platform/usb.h"
#include "sim/phone-scene.h"

namespace pelko::phone::sim {

class SimCaptureSystem final : public CaptureSystem {
  public:
    /// Device delays count from now on `clock`, which must outlive the system.
    SimCaptureSystem(Scene scene, Clock& clock);
    ~SimCaptureSystem() override;

    std::int32_t allowScreenCaptureDevices() override;
    std::vector<CaptureDeviceInfo> discover(DiscoveryQuery query) override;
    bool isInUseByAnotherApplication(const std::string& uniqueId) override;
    Authorization authorizationStatus() override;
    void requestAccess(std::function<void(bool granted)> answer) override;
    std::unique_ptr<CaptureSession> makeSession() override;
    void observeDisconnect(std::function<void(const std::string& uniqueId)> handler) override;
    void observeRuntimeError(
        std::function<void(const std::optional<std::string>& error)> handler) override;

    /// How many times the screen-capture switch was set.
    int screenCaptureSwitches() const;

    /// The scene's device when it has appeared and is still plugged in; nothing otherwise.
    const SceneDevice* visibleDevice(const std::string& uniqueId);
    /// Unplugs the device and tells the disconnect observers, on the calling thread.
    void disconnect(const std::string& uniqueId);
    /// Reports the device's runtime error to the observers, on the calling thread, marking the
    /// device as used by another app first when the scene says so.
    void failSession(const SceneDevice& device);
    /// The clock the scene's times are measured on.
    Clock& clock() { return clock_; }

  private:
    Scene scene_;
    Clock& clock_;
    Instant loaded_;
    mutable std::mutex mutex_;
    Authorization authorization_;
    int switches_ = 0;
    std::set<std::string> unplugged_;
    std::set<std::string> busy_;
    std::vector<std::function<void(const std::string&)>> disconnectObservers_;
    std::vector<std::function<void(const std::optional<std::string>&)>> errorObservers_;
    std::vector<std::thread> prompts_;
};

/// A fixed list of wired iPhones, as a scene gives it.
class FixedUsbDevices final : public UsbDevices {
  public:
    explicit FixedUsbDevices(std::vector<std::string> serials) : serials_(std::move(serials)) {}
    std::vector<std::string> wiredIphoneSerials() override { return serials_; }

  private:
    std::vector<std::string> serials_;
};

/// The seams a phone scene stands in for.
struct SimPhone {
    std::unique_ptr<CaptureSystem> capture;
    /// The scene's wired iPhones; empty when the scene leaves them to the computer's own USB.
    std::unique_ptr<UsbDevices> usb;
    /// A pasteboard kept in files; empty unless a folder was given.
    std::unique_ptr<Pasteboard> pasteboard;
};

/// The simulated computer of `scene`, its device delays counted from now on `clock`, which
/// must outlive it; with a pasteboard in `pasteboardFolder` when one is given.
SimPhone makeSimPhone(Scene scene, Clock& clock,
                      std::optional<std::filesystem::path> pasteboardFolder = {});

}  // namespace pelko::phone::sim
