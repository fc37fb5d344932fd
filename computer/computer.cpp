#include "computer.h"

namespace pelko::computer {

bool LineOutput::emit(const JSON& object) {
    if (divert_ && object.is_object() && object.contains("event")) {
        divert_(object);
        return true;
    }
    const auto text = compactJSON(object);
    if (!text) return false;
    std::lock_guard lock(writeLock_);
    // The stream's own lock too: the end of input flushes and exits while holding it, so a
    // line is written whole or not at all.
    flockfile(stream_);
    std::fputs(text->c_str(), stream_);
    std::fputc('\n', stream_);
    std::fflush(stream_);
    funlockfile(stream_);
    return true;
}

void LineOutput::holdForExit() {
    flockfile(stream_);
    std::fflush(stream_);
}

Computer::Computer(Platform& platform, std::FILE* output) : platform(platform), output(output) {}

}  // namespace pelko::computer
