#include "framed-writer.h"

#include <condition_variable>
#include <memory>

#include "fd.h"

namespace pelko::phone {

FramedWriter::FramedWriter(int fd) : fd_(fd) {}

FramedWriter::~FramedWriter() = default;

bool FramedWriter::claimFrameSlot() {
    std::lock_guard guard(lock_);
    if (frameInFlight_) return false;
    frameInFlight_ = true;
    return true;
}

void FramedWriter::releaseFrameSlot() {
    std::lock_guard guard(lock_);
    frameInFlight_ = false;
}

void FramedWriter::setOnBrokenPipe(std::function<void()> callback) {
    std::lock_guard guard(lock_);
    onBrokenPipe_ = std::move(callback);
}

void FramedWriter::reportFailure() {
    std::function<void()> callback;
    {
        std::lock_guard guard(lock_);
        callback = onBrokenPipe_;
    }
    if (callback) callback();
}

void FramedWriter::sendFrame(std::vector<std::uint8_t> jpeg) {
    queue_.async([this, jpeg = std::move(jpeg)] {
        const bool written = write(FrameKind::picture, jpeg.data(), jpeg.size());
        releaseFrameSlot();
        if (!written) reportFailure();
    });
}

void FramedWriter::sendStatus(const JSON& status) {
    auto text = compactJSON(status);
    if (!text) return;
    queue_.async([this, text = std::move(*text)] {
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
        if (!write(FrameKind::status, bytes, text.size())) reportFailure();
    });
}

void FramedWriter::drain() {
    queue_.sync([] {});
}

bool FramedWriter::drain(Clock& clock, Duration limit) {
    // Shared with the queued job and the clock's task, either of which may come after the
    // wait has ended.
    struct Outcome {
        std::mutex mutex;
        std::condition_variable changed;
        bool written = false;
        bool late = false;
    };
    auto outcome = std::make_shared<Outcome>();
    auto settle = [outcome](bool Outcome::*flag) {
        std::lock_guard guard(outcome->mutex);
        (*outcome).*flag = true;
        outcome->changed.notify_all();
    };
    queue_.async([settle] { settle(&Outcome::written); });
    clock.schedule(limit, [settle] { settle(&Outcome::late); });
    std::unique_lock wait(outcome->mutex);
    outcome->changed.wait(wait, [&] { return outcome->written || outcome->late; });
    return outcome->written;
}

bool FramedWriter::write(FrameKind kind, const std::uint8_t* payload, std::size_t size) {
    // A payload too long for the length field cannot be framed; it is dropped as if the write
    // had worked, since the reader is still there and the stream stays well-formed.
    if (size > maxPayload) return true;
    const auto length = static_cast<std::uint32_t>(size + 1);
    std::string frame;
    frame.reserve(size + 5);
    for (int shift : {24, 16, 8, 0}) frame.push_back(static_cast<char>(length >> shift));
    frame.push_back(static_cast<char>(kind));
    if (size > 0) frame.append(reinterpret_cast<const char*>(payload), size);
    // A non-blocking output is waited for rather than spun on; the writer keeps no record of a
    // failure, the broken-pipe callback hears of each one.
    return writeAll(fd_, frame).ok();
}

}  // namespace pelko::phone
