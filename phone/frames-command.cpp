#include "frames-command.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <memory>

#include "contact-sheet.h"
#include "fd.h"
#include "jpeg-encoder.h"
#include "json-line.h"
#include "option-values.h"

namespace pelko::phone {

namespace {

/// The finished sheet as a JPEG at `quality`, at its own size.
std::optional<std::vector<std::uint8_t>> encodeSheet(ContactSheet& sheet, double quality) {
    const SheetGeometry& geometry = sheet.geometry();
    // Cairo's RGB24 pixels lie in memory as B, G, R and an unused byte.
    const pictures::Pixels pixels{static_cast<int>(geometry.width),
                                  static_cast<int>(geometry.height), sheet.bytesPerRow(),
                                  pictures::PixelOrder::bgra, sheet.pixels()};
    pictures::JPEGEncoder encoder;
    return encoder.encode(pixels, pixels.width, pixels.height, quality);
}

bool writeWholeFile(const std::string& path, std::string_view bytes) {
    FileDescriptor file(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
    if (!file.valid()) return false;
    if (!writeAll(file.get(), bytes)) return false;
    // A failed close can be the first report of a failed write (a full disk on some systems).
    return ::close(file.release()) == 0;
}

[[noreturn]] void fail(std::string_view message) {
    throw FramesFailure(std::string(message));
}

}  // namespace

std::optional<FramesOptions> parseFramesOptions(std::span<const std::string> arguments) {
    FramesOptions options;
    for (std::size_t i = 0; i < arguments.size(); i += 2) {
        if (i + 1 >= arguments.size()) return {};
        const std::string& name = arguments[i];
        const std::string& value = arguments[i + 1];
        if (name == "--start" || name == "--end") {
            auto seconds = parseDouble(value);
            // Written so that a not-a-number value fails the test.
            if (!seconds || !(*seconds >= 0)) return {};
            // "-0" passes the test; adding zero makes it the start itself, so that no label or
            // result shows "-0".
            (name == "--start" ? options.start : options.end) = *seconds + 0.0;
        } else if (name == "--count") {
            auto count = parseInteger(value);
            if (!count || *count < 1 || *count > 36) return {};
            options.count = *count;
        } else if (name == "--tile") {
            auto tile = parseInteger(value);
            if (!tile || *tile < 64 || *tile > 2400) return {};
            options.tile = *tile;
        } else {
            return {};
        }
    }
    return options;
}

double roundedToHundredths(double x) {
    return std::round(x * 100) / 100;
}

FramesResult makeContactSheet(VideoFiles& video, const std::string& videoPath,
                              const std::string& outputPath, const FramesOptions& options) {
    std::unique_ptr<VideoAsset> asset = video.openAsset(videoPath);

    const std::optional<double> duration = asset->loadDuration();
    if (!duration || !std::isfinite(*duration) || !(*duration > 0)) {
        fail(framesMessages::unreadable);
    }
    const std::optional<std::size_t> tracks = asset->loadVideoTrackCount();
    if (!tracks || *tracks == 0) fail(framesMessages::noPicture);
    const std::optional<VideoTrackGeometry> track = asset->loadFirstTrackGeometry();
    if (!track) fail(framesMessages::sizeUnreadable);
    const SizeValue shown = applyTransform(track->preferredTransform, track->naturalSize);
    // An infinite side has no size either, and would not round to an integer.
    if (!std::isfinite(shown.width) || !std::isfinite(shown.height) || shown.width == 0 ||
        shown.height == 0) {
        fail(framesMessages::noPictureSize);
    }

    FramesResult result;
    result.duration = *duration;
    result.times = samplingInstants(*duration, options.start, options.end, options.count);
    result.width = std::llround(std::fabs(shown.width));
    result.height = std::llround(std::fabs(shown.height));
    const SheetGeometry geometry = sheetGeometry(options.count, options.tile, shown, result.width);
    result.sheetWidth = geometry.width;
    result.sheetHeight = geometry.height;

    std::optional<ContactSheet> sheet = ContactSheet::create(geometry);
    if (!sheet) fail(framesMessages::notDrawn);

    std::size_t drawn = 0;
    asset->copyPictures(result.times, static_cast<int>(geometry.cellWidth),
                        static_cast<int>(geometry.cellHeight),
                        [&](std::size_t index, const VideoPicture* picture) {
                            sheet->drawPicture(static_cast<std::int64_t>(index), picture);
                            if (picture) ++drawn;
                        });
    for (std::size_t i = 0; i < result.times.size(); ++i) {
        sheet->drawLabel(static_cast<std::int64_t>(i), result.times[i]);
    }
    if (drawn == 0) fail(framesMessages::noFrame);

    const std::optional<std::vector<std::uint8_t>> jpeg = encodeSheet(*sheet, sheetQuality);
    if (!jpeg || !writeWholeFile(
                     outputPath,
                     std::string_view(reinterpret_cast<const char*>(jpeg->data()), jpeg->size()))) {
        fail(framesMessages::notWritten);
    }
    return result;
}

std::string framesResultLine(const FramesResult& result) {
    JSON times = JSON::array();
    for (double time : result.times) times.push_back(roundedToHundredths(time));
    const JSON object = {{"duration", roundedToHundredths(result.duration)},
                         {"width", result.width},
                         {"height", result.height},
                         {"times", std::move(times)},
                         {"sheetWidth", result.sheetWidth},
                         {"sheetHeight", result.sheetHeight}};
    return compactJSON(object).value_or("{}") + "\n";
}

void failFrames(Platform& platform, std::string_view message) {
    [[maybe_unused]] auto written = writeAll(platform.errorFd, std::string(message) + "\n");
    platform.exitProcess(1);
}

void runFrames(Platform& platform, const std::string& videoPath, const std::string& outputPath,
               const FramesOptions& options) {
    FramesResult result;
    try {
        result = makeContactSheet(platform.video, videoPath, outputPath, options);
    } catch (const FramesFailure& failure) {
        return failFrames(platform, failure.what());
    }
    [[maybe_unused]] auto written = writeAll(platform.outputFd, framesResultLine(result));
    platform.exitProcess(0);
}

}  // namespace pelko::phone
