// The `frames` command: its options, the contact sheet of a video file written as a JPEG, its
// result line and its failures.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"

namespace pelko::phone {

struct FramesOptions {
    std::optional<double> start;  ///< seconds, at least 0; none: from the start
    std::optional<double> end;    ///< seconds, at least 0; none: to the end
    std::int64_t count = 12;      ///< pictures, 1 to 36
    std::int64_t tile = 360;      ///< widest cell in pixels, 64 to 2400
};

/// The options given after the two paths, as name and value pairs; a later option overrides
/// an earlier one. Nothing when a value is missing, a name unknown or a value out of range.
std::optional<FramesOptions> parseFramesOptions(std::span<const std::string> arguments);

/// The sentences `frames` fails with.
namespace framesMessages {
inline constexpr std::string_view unreadable =
    "The video could not be read (an .mp4, .mov or .m4v file is needed).";
inline constexpr std::string_view noPicture = "The file has no video picture.";
inline constexpr std::string_view sizeUnreadable = "The video's size could not be read.";
inline constexpr std::string_view noPictureSize = "The video has no picture size.";
inline constexpr std::string_view notDrawn = "The sheet could not be drawn.";
inline constexpr std::string_view noFrame = "No frame of the video could be read.";
inline constexpr std::string_view notWritten = "The sheet could not be written.";
}  // namespace framesMessages

/// A failure of `frames`; `what()` is its sentence.
class FramesFailure : public std::runtime_error {
    using std::runtime_error::runtime_error;
};

/// What a written sheet reports.
struct FramesResult {
    double duration = 0;     ///< seconds
    std::int64_t width = 0;  ///< the video as shown, rounded
    std::int64_t height = 0;
    std::vector<double> times;  ///< the instants in sheet order, seconds
    std::int64_t sheetWidth = 0;
    std::int64_t sheetHeight = 0;
};

/// `x` rounded to the nearest hundredth, halves away from zero.
double roundedToHundredths(double x);

/// The JPEG quality of a sheet.
inline constexpr double sheetQuality = 0.85;

/// Draws the contact sheet of the video at `videoPath` and writes it as a JPEG to
/// `outputPath`. Throws `FramesFailure`.
FramesResult makeContactSheet(VideoFiles& video, const std::string& videoPath,
                              const std::string& outputPath, const FramesOptions& options);

/// The result as one compact JSON object and a line feed (values rounded to hundredths), or
/// "{}" and a line feed when it cannot be serialised.
std::string framesResultLine(const FramesResult& result);

/// Writes `message` and a line feed to standard error in one write and exits with status 1.
void failFrames(Platform& platform, std::string_view message);

/// The `frames` command: the sheet, then its result line and exit 0, or `failFrames`.
void runFrames(Platform& platform, const std::string& videoPath, const std::string& outputPath,
               const FramesOptions& options);

}  // namespace pelko::phone
