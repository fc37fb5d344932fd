// The options of `pelko-phone frames` as the host passes them (the arguments after the two
// paths, separated here by NUL bytes), and the sheet that accepted options lead to for a video
// of any duration and shown size (both come from the file, so from outside).
//
// What must hold: accepted options come in name and value pairs of known names and are in range
// (1 to 36 pictures, tiles 64 to 2400 pixels, start and end at least 0); there is one instant per
// picture, each between 0 and the duration, in order; the grid holds every cell inside the sheet,
// its cells are at least one pixel and no wider than the tile; its time labels are numbers.
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "contact-sheet.h"
#include "frames-command.h"
#include "fuzz-support.h"

namespace {

using namespace pelko::phone;

[[noreturn]] void fault(const std::string& what, const std::vector<std::string>& arguments,
                        double duration, SizeValue shown) {
    std::string detail = "arguments:";
    for (const auto& argument : arguments) detail += " [" + argument + "]";
    detail += " duration " + std::to_string(duration) + " shown " + std::to_string(shown.width) +
              " x " + std::to_string(shown.height);
    pelko::fuzzing::fault("frames-options", what, detail);
}

// The number in the last 8 of the `size` bytes at `data`, which then count no more.
double takeLastDouble(const uint8_t* data, size_t& size) {
    double value = 0;
    std::memcpy(&value, data + size - sizeof value, sizeof value);
    size -= sizeof value;
    return value;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The last 24 bytes, when there are enough, give the duration and the shown size.
    double duration = 60;
    SizeValue shown{1920, 1080};
    if (size >= 24) {
        shown.height = takeLastDouble(data, size);
        shown.width = takeLastDouble(data, size);
        duration = takeLastDouble(data, size);
    }
    const auto arguments =
        pelko::fuzzing::splitAtNul(std::string_view(reinterpret_cast<const char*>(data), size));
    const auto options = parseFramesOptions(arguments);
    if (!options) return 0;
    auto check = [&](bool holds, const char* what) {
        if (!holds) fault(what, arguments, duration, shown);
    };

    check(arguments.size() % 2 == 0, "an option without a value was taken");
    for (size_t i = 0; i < arguments.size(); i += 2) {
        const std::string& name = arguments[i];
        check(name == "--start" || name == "--end" || name == "--count" || name == "--tile",
              "an unknown option was taken");
    }
    check(options->count >= 1 && options->count <= 36, "a count out of range");
    check(options->tile >= 64 && options->tile <= 2400, "a tile out of range");
    check(!options->start || *options->start >= 0, "a negative start");
    check(!options->end || *options->end >= 0, "a negative end");

    // What the command does with a file it could read: a positive finite duration, a finite
    // shown size with no side 0.
    if (!(std::isfinite(duration) && duration > 0)) return 0;
    if (!std::isfinite(shown.width) || !std::isfinite(shown.height) || shown.width == 0 ||
        shown.height == 0)
        return 0;

    const auto instants = samplingInstants(duration, options->start, options->end, options->count);
    check(instants.size() == static_cast<size_t>(options->count), "not one instant a picture");
    for (size_t i = 0; i < instants.size(); ++i) {
        check(instants[i] >= 0 && instants[i] <= duration, "an instant outside the video");
        check(i == 0 || instants[i] >= instants[i - 1], "instants out of order");
        const std::string label = timeLabel(instants[i]);
        check(label.size() >= 4 && label.back() == 's' && label.find_first_not_of("0123456789.") ==
                                                              label.size() - 1,
              "a label that is not a time");
    }

    const int64_t shownWidth = std::llround(std::fabs(shown.width));
    const SheetGeometry geometry =
        sheetGeometry(options->count, options->tile, shown, shownWidth);
    check(geometry.cellWidth >= 1 && geometry.cellHeight >= 1, "a cell of no size");
    check(geometry.cellWidth <= options->tile, "a cell wider than the tile");
    check(geometry.columns * geometry.rows >= geometry.count &&
              geometry.columns * (geometry.rows - 1) < geometry.count,
          "a grid that does not fit the pictures");
    for (int64_t index = 0; index < geometry.count; ++index) {
        const CellRect cell = geometry.cell(index);
        check(cell.x >= 0 && cell.y >= 0 && cell.x + cell.width <= geometry.width &&
                  cell.y + cell.height <= geometry.height,
              "a cell outside the sheet");
    }
    return 0;
}
