#include "discovery.h"

#include <utf8proc.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <memory>

#include "graphemes.h"
#include "output.h"

namespace pelko::phone {

std::string permissionName(Authorization state) {
    switch (state) {
        case Authorization::notDetermined:
            return "notDetermined";
        case Authorization::restricted:
            return "restricted";
        case Authorization::authorized:
            return "granted";
        default:
            return "denied";
    }
}

void spin(Clock& clock, Duration upTo, Duration step, const std::function<bool()>& until) {
    const Instant deadline = clock.now() + upTo;
    for (;;) {
        if (clock.now() >= deadline) return;
        if (until()) return;
        // The step counts from after the predicate, which may itself take time, and never
        // reaches past the deadline. Nothing else needs the main thread while a command polls,
        // so a pause is the wait.
        const Instant now = clock.now();
        if (now < deadline) clock.sleepFor(std::min(step, deadline - now));
    }
}

void enableScreenCaptureDevices(Platform& platform) {
    const std::int32_t status = platform.capture.allowScreenCaptureDevices();
    if (status != 0) {
        log(platform.errorFd,
            "allowing screen capture devices failed: status " + std::to_string(status));
    }
}

std::vector<CaptureDeviceInfo> phoneScreens(CaptureSystem& capture) {
    std::vector<CaptureDeviceInfo> screens;
    for (auto& device : capture.discover(DiscoveryQuery::externalMuxed)) {
        if (device.modelId != "iOS Device") continue;
        if (device.manufacturer != "Apple Inc.") continue;
        if (!device.hasMuxedMedia) continue;
        screens.push_back(std::move(device));
    }
    return screens;
}

std::vector<CaptureDeviceInfo> phoneCamerasOnly(CaptureSystem& capture) {
    std::vector<CaptureDeviceInfo> cameras;
    for (auto& device : capture.discover(DiscoveryQuery::externalAndContinuityCameras)) {
        if (device.hasMuxedMedia) continue;
        if (!device.modelId.starts_with("iPhone")) continue;
        cameras.push_back(std::move(device));
    }
    return cameras;
}

namespace {

struct FreeUtf8proc {
    void operator()(utf8proc_uint8_t* text) const { std::free(text); }
};

/// The text in composed normal form, so that a decomposed "Cámara" matches the suffix; the
/// text itself when it cannot be normalised.
std::string composed(const std::string& text) {
    std::unique_ptr<utf8proc_uint8_t, FreeUtf8proc> result(
        utf8proc_NFC(reinterpret_cast<const utf8proc_uint8_t*>(text.c_str())));
    return result ? std::string(reinterpret_cast<const char*>(result.get())) : text;
}

}  // namespace

std::string phoneNameOfCamera(const CaptureDeviceInfo& device) {
    static const std::array<std::string, 4> suffixes = {" Camera", " Kamera", " Caméra", " Cámara"};
    const std::string& name = device.localizedName;
    const std::string normalName = composed(name);
    for (const std::string& suffix : suffixes) {
        if (!normalName.ends_with(suffix)) continue;
        // Removed by its count of characters, which is the same in either normal form.
        const auto starts = graphemeStarts(name);
        const std::size_t count = graphemeStarts(suffix).size();
        if (starts.size() < count) return {};
        return name.substr(0, starts[starts.size() - count]);
    }
    return name;
}

std::vector<std::string> wiredIphoneSerials(UsbDevices& usb) {
    return usb.wiredIphoneSerials();
}

bool screenMissingNow(Platform& platform) {
    if (!phoneScreens(platform.capture).empty()) return false;
    if (wiredIphoneSerials(platform.usb).empty()) return false;
    return !phoneCamerasOnly(platform.capture).empty();
}

void runList(Platform& platform) {
    enableScreenCaptureDevices(platform);

    // The screens take a moment to appear: wait until the same non-empty set has been seen on
    // three polls in a row, or 5 seconds.
    std::vector<std::string> previous;
    bool stable = false;
    spin(platform.clock, seconds(5.0), seconds(0.25), [&] {
        std::vector<std::string> ids;
        for (const auto& screen : phoneScreens(platform.capture)) ids.push_back(screen.uniqueId);
        std::sort(ids.begin(), ids.end());
        bool settled = false;
        if (ids == previous && !ids.empty()) {
            if (stable) settled = true;
            stable = true;
        } else {
            stable = false;
        }
        previous = std::move(ids);
        return settled;
    });

    JSON devices = JSON::array();
    for (const auto& screen : phoneScreens(platform.capture)) {
        devices.push_back(
            {{"id", screen.uniqueId}, {"name", screen.localizedName}, {"model", screen.modelId}});
    }
    JSON result = {{"permission", permissionName(platform.capture.authorizationStatus())},
                   {"devices", std::move(devices)}};
    if (screenMissingNow(platform)) {
        result["screenMissing"] = true;
        const auto cameras = phoneCamerasOnly(platform.capture);
        if (wiredIphoneSerials(platform.usb).size() == 1 && cameras.size() == 1) {
            result["screenMissingName"] = phoneNameOfCamera(cameras.front());
        }
    }
    printJSONLine(platform.outputFd, result);
    platform.exitProcess(0);
}

void runRequestPermission(Platform& platform) {
    const Authorization state = platform.capture.authorizationStatus();
    if (state != Authorization::notDetermined) {
        const char* word = state == Authorization::authorized   ? "granted"
                           : state == Authorization::restricted ? "restricted"
                                                                : "denied";
        printJSONLine(platform.outputFd, {{"permission", word}});
        return platform.exitProcess(0);
    }
    // The answer's flag is not trusted: the state read after the prompt is what counts.
    platform.capture.requestAccess([&platform](bool) {
        platform.mainLoop.post([&platform] {
            printJSONLine(platform.outputFd,
                          {{"permission", permissionName(platform.capture.authorizationStatus())}});
            platform.exitProcess(0);
        });
    });
    platform.mainLoop.run();
}

}  // namespace pelko::phone
