// The `stream` command: waiting for the phone's screen, running the capture pipeline, and the
// one way a running stream ends.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "phone-process.h"
#include "phone-streamer.h"

namespace pelko::phone {

/// The error a stream ends with: a code word and a sentence for the user.
struct StreamFailure {
    std::string code;
    std::string message;
};

/// Runs `task` on a thread of its own, standing in for the system's global queue: the
/// finishing work goes there because it waits for the capture and writer queues.
void submitToGlobalQueue(std::function<void()> task);

/// Ends the stream exactly once, whoever calls first: logs and sends the error status (if
/// any), stops the capture, waits until every queued frame is written and exits with `code`.
/// Later callers return at once. Never call it on the capture or writer queue.
void finishStream(PhoneProcess& process, std::int32_t code,
                  const std::optional<StreamFailure>& error);

/// The `stream` command for the screen device `uniqueId`; ends the process.
void runStream(PhoneProcess& process, const std::string& uniqueId, const StreamOptions& options);

}  // namespace pelko::phone
