// The capture-device seam: discovery of capture devices, the switch that lets phone screens
// appear as devices, camera authorisation, capture sessions and their notifications.
//
// The shapes follow the platform's media-capture model so that its backend stays a thin
// wrapper: devices are found by discovery queries and named by unique identifiers, a session is
// configured between begin and commit, pictures arrive on a serial queue given by the caller.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "serial-queue.h"

namespace pelko::phone {

/// The camera authorisation state for video capture, with the platform's numbering.
enum class Authorization : int { notDetermined = 0, restricted = 1, denied = 2, authorized = 3 };

/// What a discovery query reports about one capture device at the moment of the query.
struct CaptureDeviceInfo {
    std::string uniqueId;
    std::string localizedName;
    std::string modelId;
    std::string manufacturer;
    /// Whether the device carries the muxed (audio and video) media type of a phone screen.
    bool hasMuxedMedia = false;
};

/// The two discovery queries the program makes.
enum class DiscoveryQuery {
    /// External devices restricted to the muxed media type, any position.
    externalMuxed,
    /// External and continuity-camera devices (in that order), any media type, any position.
    externalAndContinuityCameras,
};

/// A picture as the capture output hands it over: 32-bit BGRA rows, top row first.
struct PixelBuffer {
    int width = 0;
    int height = 0;
    int bytesPerRow = 0;
    const std::uint8_t* bgra = nullptr;
};

/// One video sample; a sample may come without a picture.
struct SampleBuffer {
    std::optional<PixelBuffer> pixelBuffer;
};

/// Receives the pictures of a video data output. Called on the queue given with the output.
class SampleBufferDelegate {
  public:
    virtual ~SampleBufferDelegate() = default;
    /// One new sample; the picture's bytes are valid only during the call.
    virtual void captureOutput(const SampleBuffer& sample) = 0;
};

/// A capture session with one device input and one video data output. Calls that configure it
/// come from one thread; `startRunning` is called on the capture queue.
class CaptureSession {
  public:
    virtual ~CaptureSession() = default;
    /// Opens a change of configuration; the changes take effect together at the commit.
    virtual void beginConfiguration() = 0;
    /// Closes the change opened by `beginConfiguration`.
    virtual void commitConfiguration() = 0;
    /// Makes the input for a device, kept for `addInput`. Returns the error's localised
    /// description when the input cannot be made.
    virtual std::optional<std::string> makeDeviceInput(const std::string& uniqueId) = 0;
    /// Whether the session takes the input made by `makeDeviceInput`.
    virtual bool canAddInput() = 0;
    /// Whether the session takes a video data output.
    virtual bool canAddOutput() = 0;
    /// Adds the input made by `makeDeviceInput`; only after `canAddInput` said yes.
    virtual void addInput() = 0;
    /// Adds a video data output that discards late frames and delivers every other picture to
    /// `delegate` on `queue`. Both must outlive the session's running.
    virtual void addVideoOutput(SampleBufferDelegate& delegate, SerialQueue& queue) = 0;
    /// Starts delivering pictures; returns when the session has started or failed to.
    virtual void startRunning() = 0;
    /// Stops delivering; no new picture callback is queued once it returns.
    virtual void stopRunning() = 0;
    /// Whether the session is delivering pictures (false again after a runtime error).
    virtual bool isRunning() = 0;
};

/// The system's capture facilities. Every call may come from any thread.
class CaptureSystem {
  public:
    virtual ~CaptureSystem() = default;
    /// Sets the system-wide property that lets screen-capture devices appear. Returns the
    /// status of the property write, 0 on success.
    virtual std::int32_t allowScreenCaptureDevices() = 0;
    /// The devices a discovery query returns now, in the system's order.
    virtual std::vector<CaptureDeviceInfo> discover(DiscoveryQuery query) = 0;
    /// Whether another application is using the device now; false for an unknown device.
    virtual bool isInUseByAnotherApplication(const std::string& uniqueId) = 0;
    /// The camera authorisation state now.
    virtual Authorization authorizationStatus() = 0;
    /// Shows the consent prompt; `answer` is called once, on any thread, with the prompt's flag.
    virtual void requestAccess(std::function<void(bool granted)> answer) = 0;
    /// A new, empty capture session.
    virtual std::unique_ptr<CaptureSession> makeSession() = 0;
    /// Calls `handler` with the device's unique identifier, on the posting thread, whenever a
    /// capture device is disconnected. Observers stay for the life of the system object.
    virtual void observeDisconnect(std::function<void(const std::string& uniqueId)> handler) = 0;
    /// Calls `handler` on the posting thread when a running capture session fails, with the
    /// error's localised description when the report carries an error.
    virtual void observeRuntimeError(
        std::function<void(const std::optional<std::string>& error)> handler) = 0;
};

}  // namespace pelko::phone
