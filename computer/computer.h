// The process-wide values of pelko-computer: created once by `main`, handed to the request loop
// and from there to every method, and never replaced while the process runs.
#pragma once

#include <cstdio>
#include <functional>
#include <mutex>

#include "json-line.h"
#include "overlay.h"
#include "platform/platform.h"
#include "serial-queue.h"
#include "sessions.h"

namespace pelko::computer {

/// Writes output lines: one compact JSON object, a newline, flushed at once, under `writeLock`.
class LineOutput {
  public:
    explicit LineOutput(std::FILE* stream) : stream_(stream) {}
    /// Writes `object` as one line and says whether it did; a value that cannot be serialised
    /// (or is not valid UTF-8) writes nothing. An event (an object with an "event" key) goes to
    /// the diversion instead, when there is one.
    bool emit(const JSON& object);
    /// Hands every later event to `divert` (on the thread that emits it) instead of writing it:
    /// the MCP face, whose output carries its own messages only, turns events into its own.
    /// Called once, before any thread emits.
    void divertEvents(std::function<void(const JSON& event)> divert) {
        divert_ = std::move(divert);
    }
    /// Flushes the stream and keeps it locked for good, so that no line is cut in half by an
    /// exit that follows; every later `emit` waits forever.
    void holdForExit();

  private:
    std::FILE* stream_;
    std::mutex writeLock_;
    std::function<void(const JSON&)> divert_;
};

/// The process-wide values, created once at start-up, in the order the start-up gives.
struct Computer {
    Computer(Platform& platform, std::FILE* output);

    Platform& platform;
    LineOutput output;
    Overlay overlay{platform};
    /// The element sessions of the apps read so far (used on `work` only).
    Sessions sessions;
    /// Runs every method but "banner", one request at a time, in arrival order.
    SerialQueue work{"pelko.computer.work"};
    /// Runs "banner" only, so that the banner never waits behind a long action.
    SerialQueue uiWork{"pelko.computer.banner"};
};

}  // namespace pelko::computer
