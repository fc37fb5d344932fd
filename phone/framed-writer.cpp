#include "framed-writer.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <memory>

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

bool FramedWriter::write(FrameKind kind, const std::uint8_t* payload, std::size_t size) {
    // A payload too long for the length field cannot be framed; it is dropped as if the write
    // had worked, since the reader is still there and the stream stays well-formed.
    if (size > maxPayload) return true;
    const std::size_t total = size + 5;
    std::unique_ptr<std::uint8_t[]> frame(new std::uint8_t[total]);
    const auto length = static_cast<std::uint32_t>(size + 1);
    frame[0] = static_cast<std::uint8_t>(length >> 24);
    frame[1] = static_cast<std::uint8_t>(length >> 16);
    frame[2] = static_cast<std::uint8_t>(length >> 8);
    frame[3] = static_cast<std::uint8_t>(length);
    frame[4] = static_cast<std::uint8_t>(kind);
    if (size > 0) std::copy(payload, payload + size, frame.get() + 5);

    std::size_t done = 0;
    while (done < total) {
        const ssize_t n = ::write(fd_, frame.get() + done, total - done);
        if (n >= 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            // A non-blocking output: wait until it takes bytes again rather than spinning.
            pollfd ready{fd_, POLLOUT, 0};
            ::poll(&ready, 1, -1);
            continue;
        }
        return false;
    }
    return true;
}

}  // namespace pelko::phone
