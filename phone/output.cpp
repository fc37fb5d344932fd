#include "output.h"

#include <string>

#include "fd.h"

namespace pelko::phone {

void log(int fd, std::string_view message) {
    std::string line = "pelko-phone: ";
    line.append(message);
    line.push_back('\n');
    // Written whole at once so that lines from different threads never interleave; failures go
    // unnoticed.
    [[maybe_unused]] auto written = writeAll(fd, line);
}

void printJSONLine(int fd, const JSON& object) {
    auto text = compactJSON(object);
    if (!text) return;
    [[maybe_unused]] auto written = writeAll(fd, *text);
    written = writeAll(fd, "\n");
}

}  // namespace pelko::phone
