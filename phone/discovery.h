// Finding phone screens, camera-only phones and wired iPhones, the wait for them to show up,
// the camera permission's words, and the `list` and `request-permission` commands.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "clock.h"
#include "platform/platform.h"

namespace pelko::phone {

/// The word for a camera authorisation state: "notDetermined", "restricted", "granted" or,
/// for denied and any unknown value, "denied".
std::string permissionName(Authorization state);

/// Waits up to `upTo` on the calling thread in steps of at most `step`, stopping as soon as
/// `until` returns true. The time test comes first, so `until` is never asked after the
/// deadline.
void spin(Clock& clock, Duration upTo, Duration step, const std::function<bool()>& until);

/// Lets screen-capture devices appear; a failing property write is logged, never fatal.
void enableScreenCaptureDevices(Platform& platform);

/// The phone screen devices (external, muxed, model "iOS Device", maker "Apple Inc."), in
/// discovery order.
std::vector<CaptureDeviceInfo> phoneScreens(CaptureSystem& capture);

/// The phones seen only as a camera (no muxed media, model beginning with "iPhone"), in
/// discovery order.
std::vector<CaptureDeviceInfo> phoneCamerasOnly(CaptureSystem& capture);

/// The device's localised name without a trailing " Camera", " Kamera", " Caméra" or
/// " Cámara" (the first that matches); the whole name otherwise.
std::string phoneNameOfCamera(const CaptureDeviceInfo& device);

/// One serial number (possibly empty) per iPhone wired by USB.
std::vector<std::string> wiredIphoneSerials(UsbDevices& usb);

/// True when no phone screen is seen while an iPhone is wired and seen as a camera only.
bool screenMissingNow(Platform& platform);

/// The `list` command: waits for the screens to settle, prints one JSON line, exits 0.
void runList(Platform& platform);

/// The `request-permission` command: asks for camera access when undecided, prints the state
/// as one JSON line, exits 0.
void runRequestPermission(Platform& platform);

}  // namespace pelko::phone
