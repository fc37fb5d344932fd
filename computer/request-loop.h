// pelko-computer's request loop: the line protocol, the error value every method throws, the
// parameter readers, the dispatcher and the process-wide values created at start-up.
#pragma once

#include <cstdint>
#include <cstdio>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "json-line.h"
#include "overlay.h"
#include "platform/platform.h"
#include "serial-queue.h"
#include "sessions.h"
#include "state-reader.h"

namespace pelko::computer {

/// The one error value of the program: a sentence for the agent and a short code word.
/// Thrown up to the request boundary and turned into an error reply there.
struct Failure {
    std::string message;
    std::string code = "failed";
};

/// Marks every synthetic input event this process posts ("PELK"), so that its own key presses
/// can be told from the user's.
constexpr int64_t ownEventMark = 0x50454C4B;

/// Writes output lines: one compact JSON object, a newline, flushed at once, under `writeLock`.
class LineOutput {
  public:
    explicit LineOutput(std::FILE* stream) : stream_(stream) {}
    /// Writes `object` as one line; a value that cannot be serialised (or is not valid UTF-8)
    /// writes nothing.
    void emit(const JSON& object);

  private:
    std::FILE* stream_;
    std::mutex writeLock_;
};

/// The process-wide values, created once at start-up, in the order the start-up gives.
struct Computer {
    Computer(Platform& platform, std::FILE* output);

    Platform& platform;
    LineOutput output;
    Overlay overlay{platform};
    /// The element sessions of the apps read so far (used on `work` only).
    Sessions sessions;
    /// The one-time steps of the state reader already taken, per app process (used on `work`).
    StateMarks marks;
    /// Runs every method but "banner", one request at a time, in arrival order.
    SerialQueue work{"pelko.computer.work"};
    /// Runs "banner" only, so that the banner never waits behind a long action.
    SerialQueue uiWork{"pelko.computer.banner"};
};

// Parameter readers: each gives nothing when the key is missing or holds the wrong JSON type.

/// Text, flag or list of texts.
template <typename T>
std::optional<T> param(const JSON& params, std::string_view key);
template <>
std::optional<std::string> param(const JSON& params, std::string_view key);
template <>
std::optional<bool> param(const JSON& params, std::string_view key);
template <>
std::optional<std::vector<std::string>> param(const JSON& params, std::string_view key);
/// A signed 64-bit integer from any JSON number: fractions are cut toward zero, numbers beyond
/// the range are held at its ends, true and false count as 1 and 0.
std::optional<int64_t> intParam(const JSON& params, std::string_view key);
/// A 64-bit floating-point value from any JSON number.
std::optional<double> doubleParam(const JSON& params, std::string_view key);

/// Runs the method named `method` with `params` and returns its result object; throws
/// `Failure` ("Unknown method {method}.", "bad-input" when no method has that name).
JSON handle(Computer& computer, const std::string& method, const JSON& params);

/// Takes one request line: parses it and schedules it on the queue of its method. Lines that
/// are not a JSON object are dropped without any output.
void serve(Computer& computer, const std::string& line);

/// The whole life of the process after start-up: installs the reader of `input`, writes
/// `ready` and runs the main loop. At end of input the process exits with status 0.
[[noreturn]] void runComputer(Platform& platform, int inputFd);

}  // namespace pelko::computer
