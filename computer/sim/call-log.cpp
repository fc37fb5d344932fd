#include "call-log.h"

#include <cmath>

namespace pelko::computer::sim {

CallLog::CallLog(Clock& clock, const std::string& path) : clock_(clock), start_(clock.now()) {
    if (!path.empty()) file_.reset(std::fopen(path.c_str(), "a"));
}

void CallLog::record(const std::string& call, JSON fields) {
    if (!file_) return;
    // Milliseconds are enough to tell pauses apart and keep the log readable.
    const double t = std::round(inSeconds(clock_.now() - start_) * 1000) / 1000;
    JSON line = {{"t", t}, {"call", call}};
    line.update(fields);
    const auto text = compactJSON(line);
    if (!text) return;
    std::lock_guard lock(mutex_);
    std::fputs(text->c_str(), file_.get());
    std::fputc('\n', file_.get());
    std::fflush(file_.get());
}

}  // namespace pelko::computer::sim
