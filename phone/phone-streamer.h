// The capture pipeline of `stream`: options, the size arithmetic, and `PhoneStreamer`, which
// turns each captured picture into a scaled JPEG frame on the framed writer.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>

#include "clock.h"
#include "jpeg-encoder.h"
#include "platform/capture.h"
#include "serial-queue.h"

namespace pelko::phone {

class FramedWriter;

struct StreamOptions {
    std::int64_t maxEdge = 1280;  ///< longest edge of a sent picture, at least 16
    double fps = 30.0;            ///< pictures per second, above 0 and at most 120
    double quality = 0.7;         ///< JPEG quality, 0 to 1
};

/// The options given after the identifier, as name and value pairs; a later option overrides
/// an earlier one. Nothing when a value is missing, a name unknown or a value out of range.
std::optional<StreamOptions> parseStreamOptions(std::span<const std::string> arguments);

struct PictureSize {
    std::int64_t width = 0;
    std::int64_t height = 0;
    bool operator==(const PictureSize&) const = default;
};

/// The size a `width` × `height` picture is sent at: scaled so that its longer edge is at most
/// `maxEdge`, each side rounded half away from zero, then raised to at least 2 and lowered to
/// an even number.
PictureSize outputSize(std::int64_t width, std::int64_t height, std::int64_t maxEdge);

/// The least time in nanoseconds between the start instants of two sent pictures: nine tenths
/// of a frame period, truncated; the largest value when the period does not fit.
std::uint64_t minIntervalFor(double fps);

/// Building the capture pipeline failed; `what()` is the description shown to the user.
class CaptureError : public std::runtime_error {
    using std::runtime_error::runtime_error;
};

class PhoneStreamer final : public SampleBufferDelegate {
  public:
    /// Builds the pipeline on the device: a session with the device's input and a video output
    /// delivering to this streamer on its capture queue. Throws `CaptureError`.
    PhoneStreamer(CaptureSystem& system, const std::string& uniqueId,
                  std::shared_ptr<FramedWriter> writer, const StreamOptions& options, Clock& clock,
                  int errorFd);
    ~PhoneStreamer() override;

    /// Starts the session on the capture queue and returns when its start call has returned.
    void start();
    /// Stops the session on the calling thread, then waits for a running picture callback.
    void stop();
    /// Whether the capture session is running.
    bool isRunning();

    /// One picture, on the capture queue: paced, limited to one in flight, scaled, encoded and
    /// handed to the writer, with a "started" status before it whenever the size changes.
    void captureOutput(const SampleBuffer& sample) override;

    /// Pictures scaled and encoded so far (including failed encodings); for tests and benches.
    std::uint64_t encodeAttempts() const { return encodeAttempts_.load(); }
    std::uint64_t minInterval() const { return minInterval_; }

  private:
    std::shared_ptr<FramedWriter> writer_;
    StreamOptions options_;
    std::uint64_t minInterval_;
    double quality_;
    Clock& clock_;
    int errorFd_;
    pictures::JPEGEncoder encoder_;
    // Touched only on the capture queue.
    std::uint64_t lastSent_ = 0;
    PictureSize lastSize_;
    std::atomic<std::uint64_t> encodeAttempts_{0};
    // The queue outlives the session (destroyed after it) so that no picture is delivered to a
    // queue that is gone; both go before the fields their jobs use.
    SerialQueue captureQueue_{"pelko.phone.capture"};
    std::unique_ptr<CaptureSession> session_;
};

}  // namespace pelko::phone
