// The only writer of standard output while `stream` runs: frames of a 4-byte big-endian length
// (counting the kind byte that follows, not itself), a kind byte (1 picture, 2 status) and the
// payload, written whole on one serial queue so that frames never interleave.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "clock.h"
#include "json-line.h"
#include "serial-queue.h"

namespace pelko::phone {

enum class FrameKind : std::uint8_t { picture = 1, status = 2 };

class FramedWriter {
  public:
    /// A writer of frames to file descriptor `fd` (standard output in the program).
    explicit FramedWriter(int fd = 1);
    /// Writes what is queued, then ends.
    ~FramedWriter();
    FramedWriter(const FramedWriter&) = delete;
    FramedWriter& operator=(const FramedWriter&) = delete;

    /// Takes the one-picture slot: true when it was free (and is now taken), false otherwise.
    bool claimFrameSlot();
    /// Frees the slot, for a caller that claimed it but produced no picture.
    void releaseFrameSlot();

    /// Queues one picture frame and returns at once. The caller must hold the slot; the job
    /// frees it after writing, whether or not the write worked, and calls the broken-pipe
    /// callback when it did not.
    void sendFrame(std::vector<std::uint8_t> jpeg);
    /// Serialises `status` now, on the calling thread, and queues one status frame; a status
    /// that cannot be serialised is dropped silently. Statuses ignore the slot.
    void sendStatus(const JSON& status);
    /// Returns once every job queued before the call has run. Never call it on the writer's
    /// queue (that is, not from the broken-pipe callback).
    void drain();
    /// `drain`, but waiting no longer than `limit` on `clock` (a task scheduled there, so on a
    /// virtual clock the limit passes when time is moved on); true when every job ran.
    bool drain(Clock& clock, Duration limit);

    /// Sets the callback that runs on the writer's queue after each failed write.
    void setOnBrokenPipe(std::function<void()> callback);

    /// The largest payload a frame can carry: the length field must hold payload + 1.
    static constexpr std::uint64_t maxPayload = 0xFFFFFFFEull;

  private:
    /// Writes one whole frame; true when every byte went out.
    bool write(FrameKind kind, const std::uint8_t* payload, std::size_t size);
    void reportFailure();

    int fd_;
    std::mutex lock_;  // guards the two fields below; never held while writing or calling out
    bool frameInFlight_ = false;
    std::function<void()> onBrokenPipe_;
    // Declared last so that it is destroyed first: its pending jobs still use the fields above.
    SerialQueue queue_{"pelko.phone.write"};
};

}  // namespace pelko::phone
