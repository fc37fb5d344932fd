// pelko-computer's request loop: the method table, the dispatcher, the reader of request lines
// and the start-up. It sits on top of every other unit; none of them includes it.
#pragma once

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

/// The whole life of the process after `main` made its values: installs the reader of
/// `input`, writes `ready` and runs the main loop. At end of input the process exits with
/// status 0. `computer` must live until then (the process ends inside this call).
[[noreturn]] void runComputer(Computer& computer, int inputFd);

}  // namespace pelko::computer
