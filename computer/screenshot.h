// The window picture: a JPEG of one window of an app, alone, scaled down to a maximum width,
// with the window's frame and the scale, so that the agent can read window points off it.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "jpeg-encoder.h"
#include "json-line.h"
#include "platform/platform.h"

namespace pelko::computer {

struct Computer;

/// The widest picture, in pixels, when the request names no maximum.
constexpr int64_t defaultMaxWidth = 1440;
/// A window must be wider and taller than this many points to be pictured.
constexpr double minimumWindowSide = 40;
/// The whole chain (content, choice, capture, encoding) gets this long.
constexpr Duration screenshotTimeLimit = seconds(10);
/// The JPEG compression factor of the pictures (0..1).
constexpr double screenshotQuality = 0.72;

/// What the app's reference window tells about the window to picture; both may be absent.
struct ReferenceWindow {
    std::optional<Rect> frame;
    std::optional<std::string> title;
};

/// The windows of `windows` that `pid` owns, in layer 0, wider and taller than 40 points, in
/// their order.
std::vector<ShareableWindow> candidateWindows(const std::vector<ShareableWindow>& windows,
                                              pid_t pid);

/// The candidate to picture: with a reference frame, the one nearest to it by
/// |Δx| + |Δy| + |Δwidth| (the earlier one on equal distance); without one, the first whose
/// title equals the reference title exactly, else the first. Nothing when there is none.
std::optional<ShareableWindow> chooseWindow(const std::vector<ShareableWindow>& candidates,
                                            const ReferenceWindow& reference);

/// The size of a picture of a window `frame` wide and high (points) at most `maxWidth` pixels
/// wide: scale = min(maxWidth / max(width, 1), 1), each side its scaled length cut to a whole
/// pixel, at least 1. A negative maximum counts as 0.
struct PictureSize {
    int width = 1;
    int height = 1;
    double scale = 0;
};
PictureSize pictureSize(const Rect& frame, int64_t maxWidth);

/// The image scaled to `width` × `height` pixels (sharply: agents read text in it) and encoded
/// as JPEG at the pictures' quality, in Base64: what a picture's "data" holds. Nothing when the
/// image is empty, its buffer is shorter than its rows say, or it does not encode.
std::optional<std::string> pictureData(pictures::JPEGEncoder& encoder, const WindowImage& image,
                                       int width, int height);

/// The picture of the app's window: {"data" (the JPEG in Base64), "mimeType", "width",
/// "height", "scale", "window"}. Throws the "screen", "no-window" and "failed" failures.
JSON screenshot(Computer& computer, const RunningApp& app, int64_t maxWidth);

/// The "screenshot" method: "app" (required, never opened), "maxWidth" (1440).
JSON screenshot(Computer& computer, const JSON& params);

}  // namespace pelko::computer
