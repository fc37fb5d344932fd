#include "screenshot.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <limits>
#include <memory>
#include <mutex>

#include "apps.h"
#include "ax-readers.h"
#include "base64.h"
#include "computer.h"
#include "method.h"
#include "state-reader.h"

namespace pelko::computer {
namespace {

// What the chain of completions leaves for the waiting request: one cell for the result and
// one for the failure, each written once, and the signal. Shared by reference with the
// completions, so that one arriving after the wait gave up writes into cells nobody reads.
struct ChainCells {
    std::mutex mutex;
    std::optional<JSON> result;
    std::optional<Failure> failure;
    Signal done;

    void fail(Failure value) {
        {
            std::lock_guard lock(mutex);
            if (!result && !failure) failure = std::move(value);
        }
        done.raise();
    }
    void succeed(JSON value) {
        {
            std::lock_guard lock(mutex);
            if (!result && !failure) result = std::move(value);
        }
        done.raise();
    }
};

// Held by every completion of the chain: when the last one goes, called or dropped unanswered
// by the capture system, the chain has ended and the wait need not run out its time.
struct ChainEnd {
    explicit ChainEnd(std::shared_ptr<ChainCells> cells) : cells(std::move(cells)) {}
    ChainEnd(const ChainEnd&) = delete;
    ChainEnd& operator=(const ChainEnd&) = delete;
    ~ChainEnd() { cells->done.raise(); }
    std::shared_ptr<ChainCells> cells;
};

std::string describe(const std::optional<std::string>& error) {
    return error ? *error : "unknown";
}

// The window the agent last looked at (the session's), else the one the state reader would
// pick. Without accessibility trust every read fails, so nothing is known.
ReferenceWindow referenceWindow(Computer& computer, const RunningApp& app) {
    Accessibility& ax = computer.platform.accessibility;
    if (!ax.isTrusted()) return {};
    Element window;
    if (const AppSession* session = computer.sessions.find(app.pid); session && session->window)
        window = session->window;
    else
        window = pickWindow(ax, ax.applicationElement(app.pid), std::nullopt);
    if (!window) return {};
    return {frameOf(ax, window), str(ax, window, "AXTitle")};
}

JSON frameJSON(const Rect& frame) {
    return {{"x", frame.origin.x},
            {"y", frame.origin.y},
            {"width", frame.size.width},
            {"height", frame.size.height}};
}

}  // namespace

std::vector<ShareableWindow> candidateWindows(const std::vector<ShareableWindow>& windows,
                                              pid_t pid) {
    std::vector<ShareableWindow> candidates;
    for (const auto& window : windows) {
        if (window.ownerPid == pid && window.layer == 0 &&
            window.frame.size.width > minimumWindowSide &&
            window.frame.size.height > minimumWindowSide)
            candidates.push_back(window);
    }
    return candidates;
}

std::optional<ShareableWindow> chooseWindow(const std::vector<ShareableWindow>& candidates,
                                            const ReferenceWindow& reference) {
    if (candidates.empty()) return std::nullopt;
    if (const auto& to = reference.frame) {
        // Origins and widths only: a window's height is what the capture system and the
        // accessibility interface disagree on most (title bars, shadows).
        const ShareableWindow* nearest = nullptr;
        double nearestDistance = std::numeric_limits<double>::infinity();
        for (const auto& candidate : candidates) {
            const Rect& frame = candidate.frame;
            const double distance = std::abs(frame.origin.x - to->origin.x) +
                                    std::abs(frame.origin.y - to->origin.y) +
                                    std::abs(frame.size.width - to->size.width);
            if (!nearest || distance < nearestDistance) {
                nearest = &candidate;
                nearestDistance = distance;
            }
        }
        return *nearest;
    }
    if (reference.title) {
        for (const auto& candidate : candidates) {
            if (candidate.title == reference.title) return candidate;
        }
    }
    return candidates.front();
}

PictureSize pictureSize(const Rect& frame, int64_t maxWidth) {
    const double limit = static_cast<double>(std::max<int64_t>(maxWidth, 0));
    const double scale = std::min(limit / std::max(frame.size.width, 1.0), 1.0);
    auto side = [scale](double points) {
        const double pixels = std::clamp(std::trunc(scale * points), 1.0, double(INT_MAX));
        return static_cast<int>(pixels);
    };
    return {side(frame.size.width), side(frame.size.height), scale};
}

std::optional<std::string> pictureData(pictures::JPEGEncoder& encoder, const WindowImage& image,
                                       int width, int height) {
    if (image.width < 1 || image.height < 1 || image.bytesPerRow / 4 < image.width ||
        image.pixels.size() < static_cast<size_t>(image.bytesPerRow) * image.height)
        return std::nullopt;
    const pictures::Pixels pixels{image.width, image.height, image.bytesPerRow,
                                  pictures::PixelOrder::bgra, image.pixels.data()};
    const auto jpeg =
        encoder.encode(pixels, width, height, screenshotQuality, pictures::Shrinking::sharp);
    if (!jpeg || jpeg->empty()) return std::nullopt;
    return pictures::base64(*jpeg);
}

JSON screenshot(Computer& computer, const RunningApp& app, int64_t maxWidth) {
    ScreenCapture& capture = computer.platform.screenCapture;
    if (!capture.preflight()) {
        throw Failure{
            "Pelko may not take pictures of the screen yet (System Settings → Privacy & "
            "Security → Screen & System Audio Recording).",
            "screen"};
    }
    const ReferenceWindow reference = referenceWindow(computer, app);
    const std::string name = app.localizedName.value_or("The app");
    const pid_t pid = app.pid;

    auto cells = std::make_shared<ChainCells>();
    // Only the completions hold the chain's end, so that it ends when they go.
    auto end = std::make_shared<ChainEnd>(cells);
    capture.shareableContent(
        ContentFilter{.excludingDesktopWindows = true, .onScreenWindowsOnly = true},
        [end = std::move(end), &capture, pid, name, reference, maxWidth](
            std::optional<std::vector<ShareableWindow>> windows, std::optional<std::string> error) {
            ChainCells& cells = *end->cells;
            if (!windows) {
                cells.fail({"The screen could not be read (" + describe(error) + ").", "screen"});
                return;
            }
            const auto chosen = chooseWindow(candidateWindows(*windows, pid), reference);
            if (!chosen) {
                cells.fail({name + " has no window on screen to picture (it may be minimized "
                                   "or on another desktop).",
                            "no-window"});
                return;
            }
            const PictureSize size = pictureSize(chosen->frame, maxWidth);
            capture.captureWindow(
                *chosen, size.width, size.height,
                [end, size, frame = chosen->frame](std::optional<WindowImage> image,
                                                   std::optional<std::string> error) {
                    ChainCells& cells = *end->cells;
                    if (!image) {
                        cells.fail({"The picture failed (" + describe(error) + ").", "screen"});
                        return;
                    }
                    // A picture's own encoder: a late completion of an earlier request may
                    // still be encoding on another thread.
                    pictures::JPEGEncoder encoder;
                    auto data = pictureData(encoder, *image, size.width, size.height);
                    if (!data) {
                        cells.fail({"The picture could not be encoded.", "failed"});
                        return;
                    }
                    cells.succeed({{"data", std::move(*data)},
                                   {"mimeType", "image/jpeg"},
                                   {"width", size.width},
                                   {"height", size.height},
                                   {"scale", size.scale},
                                   {"window", frameJSON(frame)}});
                });
        });

    if (!computer.platform.clock.wait(cells->done, screenshotTimeLimit))
        throw Failure{"The picture took too long.", "screen"};
    std::lock_guard lock(cells->mutex);
    if (cells->failure) throw *cells->failure;
    if (cells->result) return std::move(*cells->result);
    throw Failure{"The picture failed.", "screen"};
}

JSON screenshot(Computer& computer, const JSON& params) {
    const auto name = param<std::string>(params, "app");
    if (!name) throw Failure{"Give the app's name.", "bad-input"};
    const int64_t maxWidth = intParam(params, "maxWidth").value_or(defaultMaxWidth);
    // A picture never opens an app.
    const RunningApp app = resolveApp(computer.platform, *name, /*launch=*/false);
    return screenshot(computer, app, maxWidth);
}

}  // namespace pelko::computer
