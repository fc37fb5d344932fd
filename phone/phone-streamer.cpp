#include "phone-streamer.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>

#include "framed-writer.h"
#include "option-values.h"
#include "output.h"

namespace pelko::phone {

std::optional<StreamOptions> parseStreamOptions(std::span<const std::string> arguments) {
    StreamOptions options;
    for (std::size_t i = 0; i < arguments.size(); i += 2) {
        if (i + 1 >= arguments.size()) return {};
        const std::string& name = arguments[i];
        const std::string& value = arguments[i + 1];
        if (name == "--max-edge") {
            auto edge = parseInteger(value);
            if (!edge || *edge <= 15) return {};
            options.maxEdge = *edge;
        } else if (name == "--fps") {
            auto fps = parseDouble(value);
            // Written so that a not-a-number value fails the test.
            if (!fps || !(*fps > 0 && *fps <= 120)) return {};
            options.fps = *fps;
        } else if (name == "--quality") {
            auto quality = parseDouble(value);
            if (!quality || !(*quality >= 0 && *quality <= 1)) return {};
            options.quality = *quality;
        } else {
            return {};
        }
    }
    return options;
}

PictureSize outputSize(std::int64_t width, std::int64_t height, std::int64_t maxEdge) {
    const double longer = static_cast<double>(std::max(width, height));
    const double scale = std::min(static_cast<double>(maxEdge) / longer, 1.0);
    auto side = [&](std::int64_t length) {
        const std::int64_t rounded = std::llround(scale * static_cast<double>(length));
        return std::max<std::int64_t>(rounded, 2) & ~std::int64_t{1};
    };
    return {side(width), side(height)};
}

std::uint64_t minIntervalFor(double fps) {
    const double interval = (1'000'000'000.0 / fps) * 0.9;
    // Below about 5e-11 pictures per second the interval no longer fits: such a stream sends
    // its first picture and then, in practice, never another.
    if (!(interval < 18446744073709551616.0)) return std::numeric_limits<std::uint64_t>::max();
    return static_cast<std::uint64_t>(interval);
}

PhoneStreamer::PhoneStreamer(CaptureSystem& system, const std::string& uniqueId,
                             std::shared_ptr<FramedWriter> writer, const StreamOptions& options,
                             Clock& clock, int errorFd)
    : writer_(std::move(writer)),
      options_(options),
      minInterval_(minIntervalFor(options.fps)),
      quality_(options.quality),
      clock_(clock),
      errorFd_(errorFd),
      session_(system.makeSession()) {
    session_->beginConfiguration();
    if (auto failure = session_->makeDeviceInput(uniqueId)) {
        session_->commitConfiguration();
        throw CaptureError(*failure);
    }
    if (!session_->canAddInput() || !session_->canAddOutput()) {
        session_->commitConfiguration();
        throw CaptureError("The capture session refused the iPhone's stream.");
    }
    session_->addInput();
    session_->addVideoOutput(*this, captureQueue_);
    session_->commitConfiguration();
}

// Stopping first also lets a picture callback still queued finish while everything it uses exists.
PhoneStreamer::~PhoneStreamer() {
    stop();
}

void PhoneStreamer::start() {
    captureQueue_.sync([this] { session_->startRunning(); });
}

void PhoneStreamer::stop() {
    session_->stopRunning();
    captureQueue_.sync([] {});
}

bool PhoneStreamer::isRunning() {
    return session_->isRunning();
}

void PhoneStreamer::captureOutput(const SampleBuffer& sample) {
    const auto now = static_cast<std::uint64_t>(clock_.now().time_since_epoch().count());
    if (lastSent_ && now - *lastSent_ < minInterval_) return;
    // A picture still queued or being written: skip this one before any work is spent on it.
    if (!writer_->claimFrameSlot()) return;

    if (!sample.pixelBuffer || sample.pixelBuffer->width <= 0 || sample.pixelBuffer->height <= 0) {
        writer_->releaseFrameSlot();
        return;
    }
    const PixelBuffer& picture = *sample.pixelBuffer;
    const PictureSize size = outputSize(picture.width, picture.height, options_.maxEdge);

    ++encodeAttempts_;
    auto jpeg =
        encoder_.encode({picture.width, picture.height, picture.bytesPerRow,
                         pictures::PixelOrder::bgra, picture.bgra},
                        static_cast<int>(size.width), static_cast<int>(size.height), quality_);
    if (!jpeg) {
        log(errorFd_, "a frame could not be encoded");
        writer_->releaseFrameSlot();
        return;
    }
    if (size != lastSize_) {
        lastSize_ = size;
        writer_->sendStatus({{"event", "started"},
                             {"width", size.width},
                             {"height", size.height},
                             {"sourceWidth", picture.width},
                             {"sourceHeight", picture.height}});
    }
    lastSent_ = now;
    writer_->sendFrame(std::move(*jpeg));
}

}  // namespace pelko::phone
