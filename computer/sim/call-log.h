// The simulated desktop's call log: one JSON line per call that changes anything or reaches
// outside the program, so tests can assert what the program did, in order, with its times.
#pragma once

#include <cstdio>
#include <memory>
#include <mutex>
#include <string>

#include "clock.h"
#include "json-line.h"

namespace pelko::computer::sim {

class CallLog {
  public:
    /// Appends to the file at `path`; an empty path logs nothing. Times are read from `clock`.
    CallLog(Clock& clock, const std::string& path);
    /// Appends {"t": seconds since the log began, "call": call, ...fields}.
    void record(const std::string& call, JSON fields = JSON::object());

  private:
    Clock& clock_;
    Instant start_;
    std::mutex mutex_;
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file_{nullptr, &std::fclose};
};

}  // namespace pelko::computer::sim
