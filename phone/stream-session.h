// The life of one stream: the framed writer and the capture pipeline it owns, the stop causes
// it takes from any thread, and the one ending that runs however many causes come.
#pragma once

#include <csignal>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "fd.h"
#include "framed-writer.h"
#include "phone-streamer.h"
#include "platform/platform.h"

namespace pelko::phone {

/// The error a stream ends with: a code word and a sentence for the user.
struct StreamFailure {
    std::string code;
    std::string message;
};

/// One stream from its first check to its exit. The ending runs once, for the first cause
/// that asks for it: it stops the capture, tells the error (logged, and sent as the "error"
/// status, so that it is the last frame), waits until every queued frame is written (for 2
/// seconds on the platform's clock at most), and exits with the cause's status. Every later
/// cause is ignored.
class StreamSession {
  public:
    /// A session writing frames to the platform's output. A write that fails there (the reader
    /// has gone) is a stop with status 0 and no error.
    explicit StreamSession(Platform& platform);
    /// Stops watching the host, waits for an ending in progress, stops the capture and writes
    /// what is still queued; no ending starts once it has begun.
    ~StreamSession();
    StreamSession(const StreamSession&) = delete;
    StreamSession& operator=(const StreamSession&) = delete;

    /// The stream's one writer of standard output.
    const std::shared_ptr<FramedWriter>& writer() const { return writer_; }

    /// Takes the built capture pipeline, which the ending stops; returns it for starting.
    PhoneStreamer& adopt(std::unique_ptr<PhoneStreamer> streamer);

    /// Starts watching for the host's stops, each a stop with status 0 and no error: the end of
    /// standard input (or a read that fails), SIGTERM and SIGINT.
    void watchHostStops();

    /// Runs the ending on the calling thread, unless one has already begun (then returns at
    /// once). With a real exit it never returns. Only for a thread the ending may keep waiting:
    /// never the capture or writer queue, nor a thread that delivers pictures or notifications.
    void finish(std::int32_t code, const std::optional<StreamFailure>& error);

    /// Asks for the ending from any thread and returns at once: unless one has already begun,
    /// the ending runs on the session's own thread, whose exit must not throw.
    void stop(std::int32_t code, std::optional<StreamFailure> error);

  private:
    /// True for the first caller only.
    bool claimEnding();
    /// The ending sequence.
    void end(std::int32_t code, const std::optional<StreamFailure>& error);
    /// The watcher thread: standard input and the wake pipe.
    void watchHost();
    /// Ends the watcher and gives the stop signals back their former actions.
    void stopWatching();

    Platform& platform_;
    std::shared_ptr<FramedWriter> writer_;
    std::mutex lock_;  // guards the three fields below; never held while ending
    bool ending_ = false;
    std::unique_ptr<PhoneStreamer> streamer_;
    std::thread ender_;
    // The signal handler writes the signal's number into it, the session's own end a zero byte;
    // either wakes the watcher from its wait for standard input.
    Pipe wake_;
    std::thread watcher_;
    struct sigaction formerTerm_ {};
    struct sigaction formerInt_ {};
};

}  // namespace pelko::phone
