// pelko-computer's request loop: the method table, the dispatcher, the reader of request lines
// and the start-up. It sits on top of every other unit; none of them includes it.
#pragma once

#include <functional>
#include <string>

#include "computer.h"
#include "json-line.h"
#include "method.h"

namespace pelko::computer {

/// Runs the method named `method` with `params` and returns its result object; throws
/// `Failure` ("Unknown method {method}.", "bad-input" when no method has that name).
JSON handle(Computer& computer, const std::string& method, const JSON& params);

/// Takes one request line: parses it and schedules it on the queue of its method. Lines that
/// are not a JSON object are dropped without any output.
void serve(Computer& computer, const std::string& line);

/// One face of the program: what it does with each line of its input and once it has started.
struct Face {
    /// Takes one non-empty input line (invalid UTF-8 repaired), on the reader thread.
    std::function<void(const std::string& line)> serve;
    /// Runs once on the main thread, after the reader has started and before the main loop.
    std::function<void()> started;
};

/// The whole life of the process after `main` made its values, for either face: installs the
/// Escape monitor and the reader of `input`, runs `face.started` and the main loop. At end of
/// input the process exits with status 0, abandoning what is queued or running. `computer`
/// and `face` must live until then (the process ends inside this call).
[[noreturn]] void runComputer(Computer& computer, int inputFd, const Face& face);

/// The same for the line protocol: `serve` for each line, and the `ready` event at the start.
[[noreturn]] void runComputer(Computer& computer, int inputFd);

}  // namespace pelko::computer
