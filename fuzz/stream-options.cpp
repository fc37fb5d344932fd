// The options of `pelko-phone stream` as the host passes them (the arguments after the
// identifier, separated here by NUL bytes), and what accepted options lead to: the picture size
// for any screen size, and the pause between pictures.
//
// What must hold: accepted options are in range (an edge of at least 16, 0 < fps <= 120,
// 0 <= quality <= 1); every accepted option list has name and value pairs of known names; a
// picture is never larger than the screen image (beyond the 2-pixel floor), its sides are even
// and at least 2, its longer side at most the edge; the interval is positive.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "fuzz-support.h"
#include "phone-streamer.h"

namespace {

using namespace pelko::phone;

[[noreturn]] void fault(const std::string& what, const std::vector<std::string>& arguments) {
    std::string shown = "arguments:";
    for (const auto& argument : arguments) shown += " [" + argument + "]";
    pelko::fuzzing::fault("stream-options", what, shown);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The last 8 bytes, when there are enough, give the screen size to try the options on.
    int64_t width = 1170, height = 2532;
    if (size >= 8) {
        width = (data[size - 8] | data[size - 7] << 8 | data[size - 6] << 16) % 16385;
        height = (data[size - 4] | data[size - 3] << 8 | data[size - 2] << 16) % 16385;
        size -= 8;
    }
    const auto arguments =
        pelko::fuzzing::splitAtNul(std::string_view(reinterpret_cast<const char*>(data), size));
    const auto options = parseStreamOptions(arguments);
    if (!options) return 0;

    if (arguments.size() % 2 != 0) fault("an option without a value was taken", arguments);
    for (size_t i = 0; i < arguments.size(); i += 2) {
        const std::string& name = arguments[i];
        if (name != "--max-edge" && name != "--fps" && name != "--quality")
            fault("an unknown option was taken", arguments);
    }
    if (options->maxEdge < 16) fault("an edge below 16", arguments);
    if (!(options->fps > 0 && options->fps <= 120)) fault("a rate out of range", arguments);
    if (!(options->quality >= 0 && options->quality <= 1))
        fault("a quality out of range", arguments);
    if (minIntervalFor(options->fps) == 0) fault("no pause between pictures", arguments);

    if (width > 0 && height > 0) {
        const PictureSize sent = outputSize(width, height, options->maxEdge);
        if (sent.width % 2 != 0 || sent.height % 2 != 0 || sent.width < 2 || sent.height < 2)
            fault("a picture side that is odd or below 2", arguments);
        if (sent.width > std::max<int64_t>(width, 2) || sent.height > std::max<int64_t>(height, 2))
            fault("a picture larger than the screen", arguments);
        if (std::max(sent.width, sent.height) > std::max<int64_t>(options->maxEdge, 2))
            fault("a picture longer than the edge", arguments);
    }
    return 0;
}
